#!/usr/bin/env bash
# harvesta restore end to end: restore.sh HARVESTA. An NTFS volume with the things a Windows
# restore must keep (streams, ACLs, attributes, junctions, a boot configuration store, the boot
# status file, distinctive boot code) is imaged compressed and encrypted with a known disk
# signature and partition offset, restored onto the partition of a loop disk (MBR, 1 MiB) with
# --format ntfs --bootable, and compared with the volume itself; then the refusals, a copy
# template, Ctrl-C in the middle of the copy and a damaged block. Exit 77 (skipped) without
# root or FUSE, or 1 when HARVESTA_REQUIRE_MOUNTS is set.
set -euo pipefail
harvesta=$(realpath "$1")
bytes=$(dirname "$(realpath "$0")")/restore_bytes.py
if ! { [ "$(id -u)" = 0 ] && [ -c /dev/fuse ]; }; then
  echo "needs root and /dev/fuse"
  [ -n "${HARVESTA_REQUIRE_MOUNTS:-}" ] && exit 1
  exit 77
fi

work=$(mktemp -d /tmp/harvesta-restore.XXXXXX)
ref=$work/ref dst=$work/dst
mkdir -p "$ref" "$dst"
loops=()
cleanup() {
  if [ -n "${running:-}" ]; then kill -9 "$running" 2>/dev/null || true; fi
  for point in "$ref" "$dst" "$work/holder"; do mountpoint -q "$point" && umount "$point"; done
  for loop in "${loops[@]}"; do release_loop "$loop"; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

export HARVESTA_PASSWORD=restore-pw
signature=2712847316           # 0xA1B2C3D4
image_start=$((63 * 512))      # where the imaged partition began on its disk
new_start=$((2048 * 512))      # where the loop disks' partition begins

# loop_disk FILE SIZE: an MBR disk with one partition at 1 MiB, attached; the partition's
# device in $partition. (Not in a subshell: cleanup must know every loop device.)
loop_disk() {
  truncate -s "$2" "$1"
  printf 'label: dos\nlabel-id: 0x11223344\nstart=2048, type=7\n' | sfdisk -q "$1"
  local loop
  loop=$(losetup -f --show -P "$1")
  loops+=("$loop")
  partx -a "$loop" 2>/dev/null || true
  [ -b "${loop}p1" ] || fail "no partition device for $loop"
  partition=${loop}p1
}

# ntfs-3g may still hold a device for a moment after its umount.
release_loop() {
  partx -d "$1" 2>/dev/null || true
  for _ in $(seq 50); do losetup -d "$1" 2>/dev/null && return; sleep 0.1; done
  echo "cannot release $1" >&2
}

# The runtime folder harvesta keeps for a name (FNV-1a), as runtime_folder.h makes it.
runtime_of() {
  python3 -c 'import sys
h = 14695981039346656037
for c in sys.argv[1].encode(): h = ((h ^ c) * 1099511628211) % 2**64
print("/run/harvesta/%016x" % h)' "$1"
}

# restore ARGUMENTS...: harvesta restore, its pid kept for nothing_mounted.
restore() {
  local status=0
  "$harvesta" restore "$@" &
  running=$!
  wait "$running" || status=$?
  last_pid=$running running=
  return "$status"
}

# nothing_mounted NAME: the last run left nothing behind: not its folder, not the partition's
# mount below it nor that mount's FUSE layer, no mount of a loop disk of ours but the test's
# own. (Other mounts of harvesta on the machine are not this test's.)
nothing_mounted() {
  local run source
  run=$(runtime_of "restore $last_pid")
  source=$(runtime_of "$run/source-D")
  ! grep -qE " ($run|$source)(/| )" /proc/self/mountinfo || fail "$1: a mount of the run is left"
  [ ! -e "$run" ] || fail "$1: the run's folder $run is left"
  for loop in "${loops[@]}"; do  # the test's own mounts on $dst and the holder aside
    ! findmnt -n -o TARGET -S "${loop}p1" | grep -vxF -e "$dst" -e "$work/holder" >/dev/null ||
      fail "$1: ${loop}p1 is left mounted"
  done
}

# The source volume, made through ntfs-3g, with boot code of its own in its boot area.
"$(dirname "$0")/../../scripts/make-test-volume" ntfs "$work/src.vol" 48
ntfs-3g "$work/src.vol" "$ref"
mkdir -p "$ref/Boot" "$ref/Windows" "$ref/Data/inner" "$ref/many"
"$bytes" bcd "$ref/Boot/BCD" "$image_start" "$signature"
printf '\x02\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$ref/Windows/bootstat.dat"
printf 'kept\n' >"$ref/Data/inner/kept.txt"
for i in $(seq 1 1500); do printf 'small file %s\n' "$i" >"$ref/many/f$i.txt"; done
setfattr -n user.Summary -v 'a second stream' "$ref/Data/inner/kept.txt"
setfattr -n system.ntfs_acl -v "$("$bytes" acl)" "$ref/Data/inner/kept.txt"
setfattr -n system.ntfs_acl -v "$("$bytes" acl)" "$ref/Data"
setfattr -n system.ntfs_attrib_be -v 0x00000027 "$ref/Windows/bootstat.dat"  # ro, hidden, system, archive
mkdir "$ref/ToData" "$ref/ToOtherDrive"
setfattr -h -n system.ntfs_reparse_data -v "$("$bytes" junction 'C:\Data')" "$ref/ToData"
setfattr -h -n system.ntfs_reparse_data -v "$("$bytes" junction 'E:\Elsewhere\Target')" "$ref/ToOtherDrive"
umount "$ref"
"$bytes" boot-code "$work/src.vol"

"$harvesta" make-image -p "$work/src.vol,start=$image_start,label=SYSTEM" --signature "$signature" \
  --compression 2 --method byte-tokens --password "$HARVESTA_PASSWORD" --cipher 3 "$work/img.qvimg" >/dev/null

# What a tree holds, metadata and all, as ntfs-3g shows it: type, path, size (not a folder's:
# its index), mode, times, content, streams, and the NTFS attributes, security descriptor and
# reparse data. The two boot files' contents and times are left out: the boot repairs edit them.
manifest() {
  local root=$1 edited=' \./(Boot/BCD|Windows/bootstat\.dat)( |$)'
  (cd "$root" && find . -mindepth 1 \( -type d -printf '%y %p %m %T@\n' -o -printf '%y %p %s %m %T@\n' \) |
    grep -vE "$edited" | sort)
  (cd "$root" && find . -type f -exec md5sum {} + | grep -vE "$edited" | sort -k2)
  (cd "$root" && find . -mindepth 1 | sort | while read -r path; do
    echo "== $path"
    getfattr -h -d -m '^user\.' -e hex "$path" 2>/dev/null | grep -v '^#' || true
    for name in system.ntfs_attrib_be system.ntfs_acl system.ntfs_reparse_data system.ntfs_crtime_be; do
      getfattr -h --only-values -n "$name" -e hex "$path" 2>/dev/null | od -An -tx1 | tr -d ' \n'
      echo " $name"
    done
  done)
}

# Restored with formatting and boot repairs, then compared.
loop_disk "$work/disk.img" 96M
part=$partition
disk=${part%p1}
restore "$work/img.qvimg" --partition 1 --to "$part" --format ntfs --bootable --yes \
  --log "$work/restore.log" >"$work/out" 2>"$work/err" || fail "restore: $(cat "$work/err")"
grep -q "^Finished" "$work/out" || fail "restore: no report: $(cat "$work/out")"
grep -q "All data on $part will be lost! Proceed with format?" "$work/err" || fail "restore: no question"
grep -q "Data/inner/kept.txt" "$work/restore.log" || fail "restore: the log lacks a copied path"
nothing_mounted restore
ntfs-3g -o ro "$work/src.vol" "$ref"
ntfs-3g -o ro "$part" "$dst"
diff <(manifest "$ref") <(manifest "$dst") >"$work/diff" || fail "restored tree differs: $(head -40 "$work/diff")"
[ "$(readlink "$dst/ToData")" = "$dst/Data" ] || fail "junction to its own volume: $(readlink "$dst/ToData")"
"$bytes" bcd-names "$dst/Boot/BCD" "$new_start" "$signature" || fail "boot configuration not rewritten"
[ "$(od -An -tx1 -j11 -N1 "$dst/Windows/bootstat.dat" | tr -d ' ')" = 01 ] || fail "bootstat.dat byte 11"
umount "$dst" "$ref"
[ "$(od -An -tu4 -j440 -N4 "$disk" | tr -d ' ')" = "$signature" ] || fail "disk signature"
[ "$(od -An -tx1 -j446 -N1 "$disk" | tr -d ' ')" = 80 ] || fail "partition not marked active"
"$bytes" boot-area "$work/src.vol" "$part" ||
  fail "boot area is not the image's code under the destination's parameters"
echo "ok: restore --format ntfs --bootable"

# Refusals: nothing is written, and the reason is given.
refused() {  # refused NAME STATUS PATTERN ARGUMENTS...
  local name=$1 status=$2 pattern=$3 got=0; shift 3
  restore "$work/img.qvimg" --partition 1 "$@" >"$work/out" 2>"$work/err" || got=$?
  [ "$got" = "$status" ] || fail "$name: exit status $got, not $status: $(cat "$work/err")"
  grep -qE "$pattern" "$work/err" || fail "$name: $(cat "$work/err")"
  nothing_mounted "$name"
  echo "ok: refused: $name"
}
before=$(md5sum <"$part")
ntfs-3g "$part" "$dst"
refused "mounted target" 1 "is mounted on $dst" --to "$part" --format ntfs --yes
umount "$dst"
loop_disk "$work/small.img" 6M
small=$partition
refused "too small" 1 "has room for" --to "$small" --yes
loop_disk "$work/big.img" 33G
big=$partition
refused "FAT32 too big" 1 "The volume is too big for FAT32, please use NTFS." --to "$big" --format fat32 --yes
mkdir "$work/folder"
refused "folder with --format" 2 "folder" --to "$work/folder" --format ntfs --yes
refused "no question answered" 1 "give --yes" --to "$part" --format ntfs </dev/null
[ "$(md5sum <"$part")" = "$before" ] || fail "a refused restore changed $part"
loop_disk "$work/holder.img" 64M
holder=$partition
mkfs.ext4 -q "$holder"
mkdir -p "$work/holder"
mount "$holder" "$work/holder"
cp "$work/img.qvimg" "$work/holder/"
"$harvesta" restore "$work/holder/img.qvimg" --partition 1 --to "$holder" --format ntfs --yes \
  >"$work/out" 2>"$work/err" && fail "restore onto the partition holding the image"
grep -q "img.qvimg' of the backup being restored" "$work/err" || fail "target holding the image: $(cat "$work/err")"
umount "$work/holder"
echo "ok: refused: target holding the image"

# A copy template onto the freshly formatted partition: the data arrives, the command's
# failure fails the run.
restore "$work/img.qvimg" --partition 1 --to "$part" --format ntfs --yes --command 'cp -r <SRC>Data <DST>Copied' \
  >"$work/out" 2>"$work/err" || fail "--command: $(cat "$work/err")"
ntfs-3g -o ro "$part" "$dst"
cmp "$dst/Copied/inner/kept.txt" <(printf 'kept\n') || fail "--command did not copy"
umount "$dst"
! restore "$work/img.qvimg" --partition 1 --to "$work/folder" --command 'exit 4' \
  >"$work/out" 2>"$work/err" || fail "--command failing: success"
grep -q "exit status 4" "$work/err" || fail "--command failing: $(cat "$work/err")"
nothing_mounted "--command"
echo "ok: --command"

# Ctrl-C once the copy has begun: cancelled, 130, nothing left mounted.
"$harvesta" restore "$work/img.qvimg" --partition 1 --to "$part" --format ntfs --yes \
  --log "$work/cancel.log" >"$work/out" 2>"$work/err" &
running=$!
for _ in $(seq 300); do [ -s "$work/cancel.log" ] && break; sleep 0.05; done
[ -s "$work/cancel.log" ] || fail "Ctrl-C: the copy did not start"
kill -INT "$running"
status=0
wait "$running" || status=$?
last_pid=$running running=
[ "$status" = 130 ] || fail "Ctrl-C: exit status $status: $(cat "$work/err")"
grep -qi "cancelled" "$work/err" || fail "Ctrl-C: not said: $(cat "$work/err")"
[ "$(wc -l <"$work/cancel.log")" -lt 1500 ] || fail "Ctrl-C: the copy ran to its end"
nothing_mounted "Ctrl-C"
echo "ok: Ctrl-C"

# A damaged stored block: the run fails and names the file it could not read.
"$harvesta" make-image -p "$work/src.vol" --compression 0 "$work/plain.qvimg" >/dev/null
ntfs-3g -o ro "$work/src.vol" "$ref"
"$bytes" damage "$work/plain.qvimg" "$ref/data/large.bin" || fail "damage: large.bin not found in the image"
umount "$ref"
status=0
restore "$work/plain.qvimg" --partition 1 --to "$work/folder" >"$work/out" 2>"$work/err" || status=$?
[ "$status" = 1 ] || fail "damaged block: exit status $status"
grep -q "data/large.bin" "$work/err" || fail "damaged block: the file is not named: $(cat "$work/err")"
! grep -q "^Finished" "$work/out" || fail "damaged block: a success message"
nothing_mounted "damaged block"
echo "ok: damaged block"
