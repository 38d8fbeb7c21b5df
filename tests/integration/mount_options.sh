#!/usr/bin/env bash
# The mount's options and its life on a real mount: mount_options.sh HARVESTA [options].
# uid=, gid= and the masks seen through stat on NTFS and on the --raw disk files, allow_other
# tried by an unprivileged user, the image named in findmnt and in harvesta mounts, a plain
# umount ending the daemon, --lazy and the busy message with a holder, nonempty, -d, and the
# refusals that must come first (no root, unknown option). Skipped without root (common.sh).
set -euo pipefail
harvesta=$(realpath "$1")
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
# shellcheck source=tests/integration/common.sh
. "$(dirname "$0")/common.sh"

work=$(mktemp -d /tmp/harvesta-opt.XXXXXX)
chmod 755 "$work"  # the unprivileged user must reach the mount point
mnt=$work/mnt
mkdir "$mnt"
cleanup() {
  [ -n "${holder:-}" ] && kill "$holder" 2>/dev/null
  "$harvesta" unmount "$mnt" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
someone() { setpriv --reuid=1000 --regid=1000 --clear-groups "$@"; }

daemon_of() { cut -d" " -f1 "$(runtime_of "$mnt")/pid"; }  # the pid, then its start time

# Nothing of the mount left: no daemon, no runtime folder, no FUSE layer, nothing on $mnt.
left_of() {  # left_of PID RUNTIME
  kill -0 "$1" 2>/dev/null && echo "daemon $1"
  [ -e "$2" ] && echo "runtime folder $2"
  grep -qF "$2/disk" /proc/self/mountinfo && echo "FUSE layer"
  mountpoint -q "$mnt" && echo "a mount on $mnt"
  true
}
expect_gone() {  # expect_gone PID RUNTIME WHAT
  for _ in $(seq 100); do [ -z "$(left_of "$1" "$2")" ] && return; sleep 0.1; done
  fail "$3 left: $(left_of "$1" "$2")"
}

# A plain umount, as users type it, takes the daemon and its FUSE layer down with it.
plain_umount() {  # plain_umount WHAT
  local pid runtime
  pid=$(daemon_of) runtime=$(runtime_of "$mnt")
  umount "$mnt"
  expect_gone "$pid" "$runtime" "$1: plain umount"
}

"$scripts/make-test-volume" ntfs "$work/ntfs.vol" 48
HARVESTA_PASSWORD=pw "$harvesta" make-image -p "$work/ntfs.vol" --password pw --cipher 3 "$work/ntfs.qvimg" >/dev/null
export HARVESTA_PASSWORD=pw

# Refusals before any password or mount.
if out=$(env -u HARVESTA_PASSWORD setpriv --reuid=65534 "$harvesta" mount "$work/ntfs.qvimg" --partition 1 "$mnt" \
  2>&1 </dev/null); then fail "a non-root mount succeeded"; fi
[[ $out == *"needs root"* && $out != *assword* ]] || fail "non-root mount: $out"
set +e
"$harvesta" mount -o uid=0,suid "$work/ntfs.qvimg" --partition 1 "$mnt" 2>"$work/err"
status=$?
set -e
{ [ "$status" = 2 ] && grep -q "unknown -o option suid.*accepts exec, allow_other" "$work/err"; } ||
  fail "-o suid: status $status, $(cat "$work/err")"
touch "$mnt/present"
! "$harvesta" mount "$work/ntfs.qvimg" --partition 1 "$mnt" 2>"$work/err" || fail "a non-empty mount point was taken"
grep -q "not empty.*-o nonempty" "$work/err" || fail "non-empty mount point: $(cat "$work/err")"
"$harvesta" mount -o nonempty "$work/ntfs.qvimg" --partition 1 "$mnt" >/dev/null
[[ ! -e $mnt/present && -f $mnt/Readme.txt ]] || fail "-o nonempty: the volume is not on top"
"$harvesta" unmount "$mnt"
rm "$mnt/present"
set +e
"$harvesta" unmount "$mnt" 2>"$work/err"
status=$?
set -e
[ "$status" = 6 ] || fail "unmount where nothing is mounted: status $status, $(cat "$work/err")"

# NTFS: owner and modes from the options, reachable by that user; the image named as source.
"$harvesta" mount -o uid=65534,gid=65534 -o fmask=0133,dmask=022 "$work/ntfs.qvimg" --partition 1 "$mnt" >/dev/null
[ "$(stat -c '%a %u %g' "$mnt/Readme.txt")" = "644 65534 65534" ] || fail "NTFS file: $(stat -c '%a %u %g' "$mnt/Readme.txt")"
[ "$(stat -c '%a %u %g' "$mnt/data")" = "755 65534 65534" ] || fail "NTFS folder: $(stat -c '%a %u %g' "$mnt/data")"
[ "$(nobody cat "$mnt/Readme.txt")" = hello ] || fail "NTFS: the owner cannot read"
[[ $(findmnt -n -o SOURCE --mountpoint "$mnt") == */ntfs.qvimg.partition1 ]] ||
  fail "NTFS source: $(findmnt -n -o SOURCE --mountpoint "$mnt")"
[ "$(findmnt -n -o SOURCE --mountpoint "$(runtime_of "$mnt")/disk")" = "$work/ntfs.qvimg" ] || fail "FUSE layer: fsname"
pid=$(daemon_of)
"$harvesta" mounts | grep -qE "^$mnt +$work/ntfs.qvimg +1 +NTFS +$pid\$" || fail "mounts: $("$harvesta" mounts)"
"$harvesta" mounts --json | python3 -c '
import json, sys
mounts = [m for m in json.load(sys.stdin)["mounts"] if m["mount_point"] == sys.argv[1]]
assert mounts == [{"mount_point": sys.argv[1], "image": sys.argv[2], "partition": 1, "raw": False,
                   "contents": "NTFS", "pid": int(sys.argv[3])}], mounts' "$mnt" "$work/ntfs.qvimg" "$pid" ||
  fail "mounts --json"
plain_umount NTFS
"$harvesta" mounts | grep -qF "$mnt" && fail "mounts lists an unmounted $mnt"

# Busy: one message naming the holder, exit 5, still mounted; --lazy detaches at once, the
# holder keeps reading, and the daemon goes when it lets go.
"$harvesta" mount "$work/ntfs.qvimg" --partition 1 "$mnt" >/dev/null
(cd "$mnt/data" && exec sleep 600) &
holder=$!
for _ in $(seq 50); do [ "$(readlink "/proc/$holder/cwd")" = "$mnt/data" ] && break; sleep 0.1; done
set +e
"$harvesta" unmount "$mnt" >"$work/out" 2>"$work/err"
status=$?
set -e
[ "$status" = 5 ] || fail "busy unmount: status $status"
[ "$(cat "$work/out" "$work/err")" = "harvesta: $mnt is busy: held by sleep (pid $holder)" ] || fail "busy: $(cat "$work/err")"
mountpoint -q "$mnt" || fail "a busy mount was taken down"
pid=$(daemon_of) runtime=$(runtime_of "$mnt")
"$harvesta" unmount --lazy "$mnt" | grep -qF "sleep (pid $holder)" || fail "--lazy does not name the holder"
! mountpoint -q "$mnt" || fail "--lazy left $mnt mounted"
cmp "/proc/$holder/cwd/numbers.txt" <(seq 1 200000) || fail "--lazy: the holder lost its files"
kill "$holder"
holder=
expect_gone "$pid" "$runtime" "--lazy after the holder left"

# --raw disk files: owner and modes from the options; allow_other lets that user in and the
# modes keep others out.
"$harvesta" mount -o uid=65534,gid=65534,umask=0227,allow_other "$work/ntfs.qvimg" --raw "$mnt" >/dev/null
[ "$(stat -c '%a %u %g' "$mnt/1.img")" = "440 65534 65534" ] || fail "raw disk file: $(stat -c '%a %u %g' "$mnt/1.img")"
cmp <(nobody head -c 65536 "$mnt/1.img") <(head -c 65536 "$work/ntfs.vol") || fail "raw: the owner cannot read"
! someone head -c 1 "$mnt/1.img" >/dev/null 2>&1 || fail "raw: umask=0227 let another user read"
[ "$(findmnt -n -o SOURCE --mountpoint "$mnt")" = "$work/ntfs.qvimg" ] || fail "raw: fsname"
"$harvesta" mounts --json | python3 -c '
import json, sys
m = [m for m in json.load(sys.stdin)["mounts"] if m["mount_point"] == sys.argv[1]]
assert len(m) == 1 and m[0]["raw"] and m[0]["partition"] is None, m' "$mnt" || fail "mounts --json: raw"
plain_umount raw
"$harvesta" mount "$work/ntfs.qvimg" --raw "$mnt" >/dev/null
! nobody head -c 1 "$mnt/1.img" >/dev/null 2>&1 || fail "raw without allow_other: another user reads"
"$harvesta" unmount "$mnt"

# -d: the FUSE layer's requests on the terminal, in the foreground, where Ctrl-C unmounts.
"$harvesta" mount -d "$work/ntfs.qvimg" --raw "$mnt" >/dev/null 2>"$work/debug" &
debugged=$!
for _ in $(seq 50); do mountpoint -q "$mnt" && break; sleep 0.1; done
head -c 4096 "$mnt/1.img" >/dev/null
kill -INT "$debugged"
wait "$debugged" || fail "-d: the mount ended with an error"
grep -q "opcode: READ" "$work/debug" || fail "-d printed no FUSE requests"
! mountpoint -q "$mnt" || fail "-d: Ctrl-C left $mnt mounted"

# ext4 keeps its own owners, and says so; a plain umount ends its loop device too.
"$scripts/make-test-volume" ext4 "$work/ext4.vol" 32
"$harvesta" make-image -p "$work/ext4.vol" "$work/ext4.qvimg" >/dev/null
out=$("$harvesta" mount -o uid=65534 "$work/ext4.qvimg" --partition 1 "$mnt")
[[ $out == *"do not apply"* ]] || fail "ext4 with uid=: $out"
[ "$(stat -c %u "$mnt/Readme.txt")" = 0 ] || fail "ext4: the owner changed"
[[ $(losetup -n -O BACK-FILE "$(findmnt -n -o SOURCE --mountpoint "$mnt")") == */ext4.qvimg.partition1 ]] ||
  fail "ext4: the loop device's file does not name the image"
plain_umount ext4

# FAT without vfat: its disk file is on the mount point, and takes the owner.
if ! grep -qw vfat /proc/filesystems; then
  "$scripts/make-test-volume" fat32 "$work/fat.vol" 64
  "$harvesta" make-image -p "$work/fat.vol,type=0x0C" "$work/fat.qvimg" >/dev/null
  "$harvesta" mount -o uid=65534,gid=65534,allow_other "$work/fat.qvimg" --partition 1 "$mnt" >/dev/null
  [ "$(stat -c '%a %u %g' "$mnt/1.img")" = "444 65534 65534" ] || fail "FAT disk file: $(stat -c '%a %u %g' "$mnt/1.img")"
  nobody head -c 1 "$mnt/1.img" >/dev/null || fail "FAT disk file: the owner cannot read"
  plain_umount FAT
fi
echo "ok: options"
