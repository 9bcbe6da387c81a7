#!/bin/sh
# Writes the MD5 crypt cases of $1 with the hashes that `openssl passwd -1` gives them, as rows
# of C initialisers, into $2.
set -eu
out=$2.new
: >"$out"
grep -v '^#' "$1" | while IFS='|' read -r name password salt; do
  hash=$(openssl passwd -1 -salt "$salt" -- "$password")
  printf '{"%s", "%s", "%s", "%s"},\n' "$name" "$password" "$salt" "$hash" >>"$out"
done
mv "$out" "$2"
