#!/usr/bin/env bash
# The launcher seen from the host: kept trees, binds, environment, signals and leftovers.
#   launcher_test.sh CASE KORV_SANDBOX
# Each case makes its own scratch folders and removes them.
set -uo pipefail
case_name=$1
sandbox=$2
scratch=$(mktemp -d "${TMPDIR:-/tmp}/korv-launcher-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# What a host folder looks like: mode, owner, times and entries.
snapshot() { stat -c '%a %u %g %Y %h' "$1"; ls -lA --time-style=+%s "$1"; }

# Waits up to 10 s for a command to succeed.
wait_for() {
  for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done
  return 1
}

no_process_with() { ! grep -qa -- "$1" /proc/[0-9]*/cmdline 2>/dev/null; }

case $case_name in

KeptTreeLinksAreRefused)
  # A link planted in a kept tree, in one session or between two, never leads the next
  # session's set-up to the host folder it names.
  victim=$scratch/victim
  mkdir -m 0755 "$victim" && echo keep >"$victim/file"
  before=$(snapshot "$victim")
  tree=$scratch/tree
  "$sandbox" "$tree" -- /bin/sh -c "rm -rf /tmp && ln -s '$victim' /tmp" || fail "planting /tmp"
  for dir in tmp proc dev usr bin sbin etc var sys root volume1 .korvsim usr/lib .korvsim/tools .korvsim/proc dev/null; do
    if [ "$dir" != tmp ]; then
      mv "$tree/$dir" "$scratch/aside" && ln -s "$victim" "$tree/$dir"
    fi
    out=$("$sandbox" "$tree" -- /bin/sh -c 'echo ran' 2>&1)
    rc=$?
    [ $rc -eq 125 ] || fail "$dir: the session ran (rc $rc): $out"
    case $out in *"$tree/$dir is a link"*) ;; *) fail "$dir: message: $out" ;; esac
    [ "$(snapshot "$victim")" = "$before" ] || fail "$dir: the host folder changed"
    rm "$tree/$dir"
    if [ "$dir" = tmp ]; then mkdir -m 1777 "$tree/tmp"; else mv "$scratch/aside" "$tree/$dir"; fi
  done
  "$sandbox" "$tree" -- /bin/true || fail "the tree no longer works"
  ;;

KeptTreeKeepsItsOwnPrograms)
  # Programs a tree brings at /bin/NAME or /sbin/NAME are kept, not covered by the host's.
  tree=$scratch/tree
  "$sandbox" "$tree" -- /bin/sh -c '
    rm /bin/touch /bin/mount &&
    printf "#!/bin/sh\necho touch \"\$@\" >>/tmp/calls\n" >/bin/touch &&
    printf "#!/bin/sh\necho mount \"\$@\" >>/tmp/calls\n" >/sbin/mount &&
    chmod 755 /bin/touch /sbin/mount' || fail "first session"
  out=$("$sandbox" "$tree" -- /bin/sh -c '
    touch /tmp/made; mount -t tmpfs none /mnt
    cat /tmp/calls; test -e /tmp/made && echo made; test -e /bin/mount && echo "bin mount"
    readlink /bin/sh' 2>&1) || fail "second session: $out"
  expected=$'touch /tmp/made\nmount -t tmpfs none /mnt\n/.korvsim/tools/sh'
  [ "$out" = "$expected" ] || fail "got: $out"
  ;;

KeptTreeKeepsFileOwners)
  # Ids 0 to 65535 inside are the host's own as root, an ordinary user's subordinate ids (from
  # /etc/subuid and /etc/subgid) otherwise, or, without those, only the caller (as root).
  tree=$scratch/tree
  out=$("$sandbox" "$tree" -- /bin/sh -c 'echo x >/etc/owned; chown 1234:5678 /etc/owned 2>/dev/null && echo chowned
    /bin/stat -c "%u:%g" /etc/owned; wc -l </proc/self/uid_map') || fail "first session: $out"
  if [ "$(id -u)" -eq 0 ]; then
    expected_host=1234:5678
  elif [ "$(echo "$out" | tail -1)" -gt 1 ]; then
    uid_base=$(grep -E "^($(id -un)|$(id -u)):" /etc/subuid | head -1 | cut -d: -f2)
    gid_base=$(grep -E "^($(id -un)|$(id -u)):" /etc/subgid | head -1 | cut -d: -f2)
    expected_host=$((uid_base + 1233)):$((gid_base + 5677))
  else
    [ "$out" = $'0:0\n1' ] || fail "caller only: $out"
    [ "$(stat -c '%u:%g' "$tree/etc/owned")" = "$(id -u):$(id -g)" ] || fail "owner on the host"
    echo "ok: $case_name"
    exit 0
  fi
  [ "$out" = "$(printf 'chowned\n1234:5678\n2')" ] || fail "inside: $out"
  [ "$(stat -c '%u:%g' "$tree/etc/owned")" = "$expected_host" ] || fail "owner on the host: $(stat -c '%u:%g' "$tree/etc/owned")"
  out=$("$sandbox" "$tree" -- /bin/stat -c '%u:%g' /etc/owned) || fail "second session"
  [ "$out" = 1234:5678 ] || fail "owner in the next session: $out"
  ;;

UnusableTreesAreRefused)
  # A folder with files of its own is not laid out as a tree; nor is the host's root.
  mine=$scratch/mine
  mkdir "$mine" && echo notes >"$mine/notes.txt"
  before=$(snapshot "$mine")
  out=$("$sandbox" "$mine" -- /bin/true 2>&1)
  [ $? -eq 125 ] || fail "ran in a folder of files"
  case $out in *"neither empty nor a device tree"*) ;; *) fail "message: $out" ;; esac
  [ "$(snapshot "$mine")" = "$before" ] || fail "the folder changed"
  "$sandbox" / -- /bin/true 2>/dev/null && fail "ran with / as the tree"
  ;;

BindsStayOutOfTheDeviceTmp)
  # A folder bound from the host's /tmp shows under /.korvsim/host, not in the device's /tmp.
  bound=$(mktemp -d /tmp/korv-bind.XXXXXX)
  trap 'rm -rf "$scratch" "$bound"' EXIT
  echo data >"$bound/file"
  out=$("$sandbox" --fresh --bind-ro "$bound" -- /bin/sh -c \
    "ls -A /tmp; rm -rf /tmp/* /tmp/.[!.]* 2>/dev/null; cat '/.korvsim/host$bound/file'") || fail "session: $out"
  [ "$out" = data ] || fail "got: $out"
  [ "$(cat "$bound/file")" = data ] || fail "the bound folder changed"
  ;;

EnvironmentIsListed)
  # Only the listed variables reach the command; ICU_DATA is given as seen inside.
  bound=$scratch/bound
  mkdir -p "$bound/icu"
  out=$(env -i PATH="$PATH" HOME=/home/someone TERM=dumb SECRET=1 LANG=C.UTF-8 TMPDIR=/nowhere \
    ICU_DATA="$bound/icu:/elsewhere" ASAN_OPTIONS=detect_leaks=1 HOSTVAR=three NAMED1=one \
    KORV_SANDBOX_ENV="NAMED1 NAMED2=set" \
    "$sandbox" --fresh --bind-ro "$bound" --env CLI=two --env HOSTVAR -- /usr/bin/env | grep -v '^KORV_SANDBOX=' | sort)
  expected="ASAN_OPTIONS=detect_leaks=1
CLI=two
HOME=/root
HOSTVAR=three
ICU_DATA=/.korvsim/host$bound/icu:/elsewhere
NAMED1=one
NAMED2=set
PATH=/bin:/sbin:/usr/bin:/usr/sbin
TERM=dumb"
  [ "$out" = "$expected" ] || fail "got:
$out"
  ;;

StrayDescriptorsStayOutside)
  # A descriptor the launcher inherits (here the host's root folder) is not open inside.
  out=$("$sandbox" --fresh -- /bin/sh -c 'for fd in 3 4 5 6 7 8 9; do test -e /proc/$$/fd/$fd && echo "open $fd"; done; echo done' 7</ 9<"$scratch")
  [ "$out" = done ] || fail "got: $out"
  ;;

SignalsRemoveTheFreshTree)
  # SIGTERM or SIGHUP to the launcher ends the session and removes its fresh tree's folder.
  for sig in TERM HUP; do
    root=$scratch/$sig
    mkdir "$root"
    mark="sleep 300.$RANDOM"
    KORV_TREE_ROOT=$root "$sandbox" --fresh -- /bin/sh -c "echo started; exec $mark" >"$root.out" &
    pid=$!
    wait_for grep -q started "$root.out" || fail "$sig: the session did not start"
    [ -n "$(ls -A "$root")" ] || fail "$sig: no tree folder"
    kill -"$sig" $pid
    wait $pid
    rc=$?
    [ $rc -eq $((128 + $(kill -l $sig))) ] || fail "$sig: launcher status $rc"
    [ -z "$(ls -A "$root")" ] || fail "$sig: left $(ls -A "$root")"
    wait_for no_process_with "${mark#sleep }" || fail "$sig: the command outlived the launcher"
  done
  ;;

KilledSessionsAreSwept)
  # A killed launcher leaves an empty folder; the next one removes it, and only such folders:
  # not a live session's, not one with files, not one of another name.
  root=$scratch/root
  mkdir "$root" "$root/korv-tree.stale1" "$root/korv-tree.files1" "$root/other.stale2"
  touch "$root/korv-tree.files1/f"
  KORV_TREE_ROOT=$root "$sandbox" --fresh -- /bin/sh -c 'echo started; sleep 3; echo alive >/tmp/f; cat /tmp/f' \
    >"$scratch/live.out" &
  live=$!
  wait_for grep -q started "$scratch/live.out" || fail "the live session did not start"
  before=$(ls "$root")
  mark="sleep 300.$RANDOM"
  KORV_TREE_ROOT=$root "$sandbox" --fresh -- /bin/sh -c "echo started; exec $mark" >"$scratch/killed.out" &
  killed=$!
  wait_for grep -q started "$scratch/killed.out" || fail "the killed session did not start"
  killed_tree=$(comm -13 <(echo "$before") <(ls "$root"))
  [ -n "$killed_tree" ] || fail "no folder for the killed session"
  kill -KILL $killed
  wait $killed 2>/dev/null
  wait_for no_process_with "${mark#sleep }" || fail "the killed session's command lives on"
  [ -d "$root/$killed_tree" ] || fail "the killed launcher removed its folder"
  KORV_TREE_ROOT=$root "$sandbox" --fresh -- /bin/true || fail "the sweeping session"
  [ ! -e "$root/$killed_tree" ] || fail "the killed session's folder was not swept"
  [ ! -e "$root/korv-tree.stale1" ] || fail "an empty leftover was not swept"
  [ -e "$root/korv-tree.files1/f" ] || fail "a folder with files was swept"
  [ -d "$root/other.stale2" ] || fail "a folder of another name was swept"
  wait $live || fail "the live session failed"
  [ "$(tail -1 "$scratch/live.out")" = alive ] || fail "the live session lost its tree"
  [ "$(ls "$root")" = "$(printf 'korv-tree.files1\nother.stale2')" ] || fail "left: $(ls "$root")"
  ;;

*)
  fail "unknown case $case_name"
  ;;
esac
echo "ok: $case_name"
