#!/usr/bin/env bash
# The launcher seen from the host: kept trees, binds, environment, signals and leftovers.
#   launcher_test.sh CASE KORV_SANDBOX
# Each case makes its own scratch folders and removes them.
set -uo pipefail
case_name=$1
sandbox=$2
source=$(cd "$(dirname "$0")/../.." && pwd)
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
    if [ "$dir" = tmp ]; then
      mkdir -m 1777 "$tree/tmp" && chown "$("$sandbox" --host-owner 0:0)" "$tree/tmp"
    else
      mv "$scratch/aside" "$tree/$dir"
    fi
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
  # Owners inside behave as on the device; on the host they are the ids the launcher maps them
  # to (`korv-sandbox --host-owner`): a fixed range as root, an ordinary user's subordinate ids
  # (from /etc/subuid and /etc/subgid), or, without those, only the caller.
  tree=$scratch/tree
  out=$("$sandbox" "$tree" -- /bin/sh -c 'echo x >/etc/owned; chown 1234:5678 /etc/owned 2>/dev/null && echo chowned
    /bin/stat -c "%u:%g" /etc/owned; wc -l </proc/self/uid_map') || fail "first session: $out"
  if [ "$(echo "$out" | tail -1)" -eq 1 ]; then
    [ "$out" = $'0:0\n1' ] || fail "caller only: $out"
    [ "$(stat -c '%u:%g' "$tree/etc/owned")" = "$(id -u):$(id -g)" ] || fail "owner on the host"
    "$sandbox" --host-owner 1234:5678 >/dev/null 2>&1 && fail "an unmapped owner was translated"
    echo "ok: $case_name"
    exit 0
  fi
  expected_host=$("$sandbox" --host-owner 1234:5678) || fail "--host-owner"
  [ "$out" = "$(printf 'chowned\n1234:5678\n2')" ] || fail "inside: $out"
  [ "$(stat -c '%u:%g' "$tree/etc/owned")" = "$expected_host" ] || fail "owner on the host: $(stat -c '%u:%g' "$tree/etc/owned")"
  [ "$(stat -c '%u:%g' "$tree")" = "$("$sandbox" --host-owner 0:0)" ] || fail "the tree's own owner"
  out=$("$sandbox" "$tree" -- /bin/stat -c '%u:%g' /etc/owned) || fail "second session"
  [ "$out" = 1234:5678 ] || fail "owner in the next session: $out"
  ;;

RootInsideIsNoHostRoot)
  # A setuid-root program and a program with a file capability, made inside a kept tree, give
  # a host user who reaches the tree no privilege: root inside is never the host's root.
  [ "$(id -u)" -eq 0 ] || { echo "ok: $case_name (root only)"; exit 0; }
  chmod 755 "$scratch"
  tree=$scratch/tree
  "$sandbox" "$tree" --bind-ro /usr/sbin -- /bin/sh -c '
    cp /.korvsim/tools/id /tmp/suid-id && chown 0:0 /tmp/suid-id && chmod 4755 /tmp/suid-id &&
    cp /.korvsim/tools/cat /tmp/capped &&
    /.korvsim/host/usr/sbin/setcap cap_dac_read_search+ep /tmp/capped' || fail "making the files"
  root_host=$("$sandbox" --host-owner 0:0)
  [ "$root_host" != 0:0 ] || fail "root inside is the host's root"
  [ "$(stat -c '%u:%g %a' "$tree/tmp/suid-id")" = "$root_host 4755" ] || fail "setuid file: $(stat -c '%u:%g %a' "$tree/tmp/suid-id")"
  as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
  euid=$(as_nobody "$tree/tmp/suid-id" -u) || fail "running the setuid file"
  [ "$euid" = "${root_host%:*}" ] || fail "the setuid file ran as $euid"
  as_nobody "$tree/tmp/capped" /etc/shadow >/dev/null 2>&1 && fail "the capability file read /etc/shadow"
  /usr/sbin/getcap -n "$tree/tmp/capped" | grep -q "rootid=${root_host%:*}" || fail "capability: $(/usr/sbin/getcap -n "$tree/tmp/capped")"
  ;;

TerminalCannotBeTypedInto)
  # Under a terminal (script), the command gets a terminal of the launcher's own in a session of
  # its own: text it pushes with TIOCSTI never reaches the caller's shell.
  build=$(cd "$(dirname "$sandbox")/.." && pwd)
  printf '%s\n' "ICU_DATA='$build/icudata' '$sandbox' --fresh --bind-ro '$build' -- '$build/tests/korv_test_sandbox' --gtest_filter='Terminal.*' --gtest_color=no" \
    'echo "sandbox: $?"' 'read -r -t 2 line && echo "typed: $line"' 'echo end' >"$scratch/run.sh"
  out=$(script -qec "bash '$scratch/run.sh'" /dev/null </dev/null 2>&1)
  case $out in *"typed:"*) fail "text reached the caller's terminal: $out" ;; esac
  case $out in *"sandbox: 0"*) ;; *) fail "the inside test failed: $out" ;; esac
  case $out in *"[  PASSED  ] 1 test"*) ;; *) fail "the inside test did not run: $out" ;; esac
  ;;

StdinIsHandedThroughAPipe)
  # A host file or folder given as standard input reaches the command as a pipe: it cannot be
  # reopened for writing, nor walked out of.
  echo data >"$scratch/input"
  chmod 444 "$scratch/input"
  check='test -p /proc/self/fd/0 && echo pipe; cat'
  out=$("$sandbox" --fresh -- /bin/sh -c "$check" <"$scratch/input") || fail "file: $out"
  [ "$out" = $'pipe\ndata' ] || fail "file: $out"
  out=$("$sandbox" --fresh -- /bin/sh -c "$check; ls /proc/self/fd/0/ 2>&1 | head -1" <"$scratch") || fail "folder: $out"
  [ "$(echo "$out" | head -1)" = pipe ] || fail "folder: $out"
  case $out in *input*) fail "the folder was listed: $out" ;; esac
  [ "$(cat "$scratch/input")" = data ] || fail "the file changed"
  out=$(echo piped | "$sandbox" --fresh -- /bin/sh -c "$check") || fail "pipe: $out"
  [ "$out" = $'pipe\npiped' ] || fail "pipe: $out"
  ;;

TreePathSwapIsRefused)
  # A host user who owns a folder on the tree's path swaps it with a link to another folder
  # (RENAME_EXCHANGE) while sessions start: no session lays a tree out in that folder.
  [ "$(uname -m)" = x86_64 ] || { echo "ok: $case_name (x86_64 only)"; exit 0; }
  mkdir -p "$scratch/a/tree" "$scratch/victim/tree"
  echo keep >"$scratch/victim/file"
  ln -s "$scratch/victim" "$scratch/b"
  "$sandbox" "$scratch/a/tree" -- /bin/true || fail "the first session"
  before=$(snapshot "$scratch/victim"; snapshot "$scratch/victim/tree")
  perl -e 'my ($a, $b) = @ARGV; my $end = time + 120;
    while (time < $end) { syscall(316, -100, $a, -100, $b, 2) }' "$scratch/a" "$scratch/b" &
  swapper=$!
  ran=0 refused=0
  for _ in $(seq 100); do
    if out=$("$sandbox" "$scratch/a/tree" -- /bin/true 2>&1); then ran=$((ran + 1))
    else
      case $out in *"is a link"*) refused=$((refused + 1)) ;; *) kill $swapper; fail "start: $out" ;; esac
    fi
  done
  kill $swapper
  wait $swapper 2>/dev/null
  [ "$(snapshot "$scratch/victim"; snapshot "$scratch/victim/tree")" = "$before" ] || fail "the victim folder changed"
  [ $((ran + refused)) -eq 100 ] || fail "ran $ran, refused $refused"
  ;;

KeptTreeOneSessionAtATime)
  # A second session on a kept tree waits for the first (bounded by KORV_TREE_WAIT seconds),
  # so it never overwrites the first's token nor takes its /dev/log.
  tree=$scratch/tree
  "$sandbox" "$tree" -- /bin/true || fail "laying out"
  "$sandbox" "$tree" -- /bin/sh -c 'cp /.korvsim/sandbox /tmp/token; echo started >/tmp/started
    sleep 3; cmp -s /.korvsim/sandbox /tmp/token && test -S /dev/log && echo intact' >"$scratch/first.out" &
  first=$!
  wait_for test -e "$tree/tmp/started" || fail "the first session did not start"
  out=$(KORV_TREE_WAIT=1 "$sandbox" "$tree" -- /bin/true 2>&1)
  rc=$?
  [ $rc -eq 125 ] || fail "a second session ran beside the first (rc $rc)"
  case $out in *"is in use by another session"*) ;; *) fail "message: $out" ;; esac
  out=$("$sandbox" "$tree" -- /bin/sh -c 'echo second' 2>/dev/null) || fail "the waiting session"
  [ "$out" = second ] || fail "the waiting session: $out"
  wait $first || fail "the first session"
  [ "$(cat "$scratch/first.out")" = intact ] || fail "the first session was disturbed: $(cat "$scratch/first.out")"
  rm "$tree/tmp/started"
  ;;

FreshTreeSizeIsLimited)
  # A fresh tree's tmpfs holds what --tree-size allows, not half of the host's memory.
  out=$("$sandbox" --fresh --tree-size 8m -- /bin/sh -c 'dd if=/dev/zero of=/tmp/big bs=1M count=16 2>/dev/null; echo $?')
  [ "$out" != 0 ] || fail "16 MiB fit in an 8 MiB tree"
  out=$("$sandbox" --fresh --tree-size 64m -- /bin/sh -c 'dd if=/dev/zero of=/tmp/big bs=1M count=16 2>/dev/null; echo $?')
  [ "$out" = 0 ] || fail "16 MiB did not fit in a 64 MiB tree"
  "$sandbox" --fresh --tree-size bogus -- /bin/true 2>/dev/null && fail "a bad size was taken"
  ;;

CallerKeyringStaysOutside)
  # A key in the caller's session keyring is not in the command's, which is new and empty.
  [ "$(uname -m)" = x86_64 ] || { echo "ok: $case_name (x86_64 only)"; exit 0; }
  build=$(cd "$(dirname "$sandbox")/.." && pwd)
  out=$(perl -e 'my ($type, $name, $key) = ("user", "korv-probe", "secret");
      syscall(248, $type, $name, $key, 6, -3) > 0 or die "add_key: $!\n"; exec @ARGV' \
    env ICU_DATA="$build/icudata" "$sandbox" --fresh --bind-ro "$source" --bind-ro "$build" -- "$build/tests/korv_test_sandbox" \
    --gtest_filter='FromInside/Attempts.FailAndLeaveTheHostAlone/ReachSessionKeyring' --gtest_color=no 2>&1) ||
    fail "inside: $out"
  case $out in *"[  PASSED  ] 1 test"*) ;; *) fail "the inside test did not run: $out" ;; esac
  ;;

SessionEndKeepsFlashWrites)
  # A shell `dd` into a flash mirror as the session's very last action, with no program of the
  # simulated device after it, still reaches the simulated chip: the next session reads those
  # bytes, not the old ones.
  build=$(cd "$(dirname "$sandbox")/.." && pwd)
  tree=$scratch/tree
  inside=/.korvsim/host$build/bin
  # A program of the simulated device puts a kept tree's mirrors back as it starts.
  "$sandbox" --bind-ro "$build" "$tree" -- "$build/bin/korv-devtree" msys || fail "building the flash"
  for dev in 1 4; do
    "$sandbox" --bind-ro "$build" "$tree" -- /bin/sh -c "$inside/korv-flashls >/dev/null 2>&1
      printf 'written in mtd$dev' | dd of=/dev/mtd$dev conv=notrunc 2>/dev/null" || fail "the writing session"
    out=$("$sandbox" --bind-ro "$build" "$tree" -- /bin/sh -c "$inside/korv-flashls >/dev/null 2>&1
      dd if=/dev/mtd$dev bs=15 count=1 2>/dev/null") || fail "the reading session"
    [ "$out" = "written in mtd$dev" ] || fail "/dev/mtd$dev holds: $(printf %s "$out" | od -c | head -2)"
  done
  ;;

SessionLeavesTheSimulatorAlone)
  # A session changes the simulator's files only by what ran in it: one of /bin/true, or of a
  # program of the simulated device that refuses to run, leaves them as they were (the
  # launcher's own marker, syslog and mount points aside); a shell `dd` into a mirror is still
  # taken into the chip as the session ends, and logged.
  build=$(cd "$(dirname "$sandbox")/.." && pwd)
  tree=$scratch/tree
  inside=/.korvsim/host$build/bin
  sim_files() {
    (cd "$tree/.korvsim" && find . \( -path ./proc -o -path ./tools -o -path ./tools-extra -o -path ./host \
      -o -name 'syslog*' -o -path ./sandbox \) -prune -o -print | sort | while read -r f; do
        stat -c '%n %F %s %i %y' "$f"; [ -f "$f" ] && md5sum <"$f"; done)
  }
  "$sandbox" --bind-ro "$build" "$tree" -- /bin/sh -c "$inside/korv-devtree msys && $inside/korv-flashls >/dev/null" ||
    fail "building the flash"
  [ -s "$tree/.korvsim/requests.log" ] || fail "no request was logged"
  before=$(sim_files)
  "$sandbox" "$tree" -- /bin/true || fail "the /bin/true session"
  [ "$(sim_files)" = "$before" ] || fail "/bin/true changed: $(diff <(echo "$before") <(sim_files))"
  out=$("$sandbox" --bind-ro "$build" "$tree" -- /usr/bin/env KORV_SANDBOX=other "$inside/korv-flashls" 2>&1)
  [ $? -eq 2 ] || fail "the program ran: $out"
  case $out in *"refusing to run"*) ;; *) fail "message: $out" ;; esac
  [ "$(sim_files)" = "$before" ] || fail "the refused program changed: $(diff <(echo "$before") <(sim_files))"
  "$sandbox" --bind-ro "$build" "$tree" -- /bin/sh -c "$inside/korv-flashls >/dev/null 2>&1
    printf 'written' | dd of=/dev/mtd2 conv=notrunc 2>/dev/null" || fail "the writing session"
  last=$(tail -1 "$tree/.korvsim/requests.log")
  case $last in "/dev/mtd2 IMPORT bytes="*) ;; *) fail "the session's import was not logged: $last" ;; esac
  ;;

KeptTreeGetsTheSmtpPlugin)
  # A kept tree's sessions find the build's plug-in at "/lib/libkorvsmtp.so", as fresh ones do,
  # without a copy of it in the tree on the host.
  build=$(cd "$(dirname "$sandbox")/.." && pwd)
  tree=$scratch/tree
  for session in first second; do
    "$sandbox" --bind-ro "$build" "$tree" -- /bin/sh -c "cmp /lib/libkorvsmtp.so /.korvsim/host$build/plugin/libkorvsmtp.so" ||
      fail "$session session: no plug-in"
  done
  [ -z "$(ls -A "$tree/usr/lib")" ] || fail "the tree holds: $(ls -A "$tree/usr/lib")"
  ;;

KeptTreeLibIsLaidOutAnew)
  # Whatever a session, or the tree's owner on the host, leaves at /lib or /lib64 (another link,
  # a file, a folder), the next session finds the launcher's links there, and the build's
  # plug-in at "/lib/libkorvsmtp.so"; what a planted link names, inside or on the host, stays.
  # (A session's last program is the one that changes /lib: the next one would find no loader.)
  build=$(cd "$(dirname "$sandbox")/.." && pwd)
  tree=$scratch/tree
  victim=$scratch/victim
  mkdir -m 0755 "$victim" && echo keep >"$victim/libkorvsmtp.so"
  before=$(snapshot "$victim")
  inside() { "$sandbox" "$tree" -- /bin/sh -c "$1"; }
  for situation in repointed file host-links host-folder; do
    case $situation in
      repointed) inside 'mkdir -p /tmp/mylib && echo fake >/tmp/mylib/libkorvsmtp.so && ln -sfn /tmp/mylib /lib' ;;
      file) inside 'rm /lib && echo fake >/lib' ;;
      host-links) rm "$tree/lib" "$tree/lib64" && ln -s "$victim" "$tree/lib" && ln -s "$victim" "$tree/lib64" ;;
      host-folder) rm "$tree/lib" "$tree/lib64" && mkdir -p "$tree/lib/sub" && echo fake >"$tree/lib/sub/f" &&
        ln -s "$victim" "$tree/lib/sub/victim" && ln -s "$victim/libkorvsmtp.so" "$tree/lib/libkorvsmtp.so" &&
        echo fake >"$tree/lib64" ;;
    esac || fail "$situation: leaving it"
    case $situation in host-*) chown -hR "$("$sandbox" --host-owner 0:0)" "$tree/lib" "$tree/lib64" ;; esac
    out=$("$sandbox" --bind-ro "$build" "$tree" -- /bin/sh -c "readlink /lib /lib64
      cmp /lib/libkorvsmtp.so /.korvsim/host$build/plugin/libkorvsmtp.so && echo plug-in" 2>&1)
    [ "$out" = $'usr/lib\nusr/lib64\nplug-in' ] || fail "$situation: $out"
    [ "$(snapshot "$victim")" = "$before" ] || fail "$situation: the host folder changed"
  done
  out=$(inside 'cat /tmp/mylib/libkorvsmtp.so') || fail "the repointed link's folder: $out"
  [ "$out" = fake ] || fail "the repointed link's folder holds: $out"
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
