#!/usr/bin/env bash
# bench_restore.sh HARVESTA TREE_COPY_TOOL [ROUNDS]: harvesta restore NTFS to NTFS against its
# anchor in the same run: the same copy from the plain volume, mounted directly with
# `ntfs-3g -o ro`, by the same copier (TREE_COPY_TOOL --ntfs: CopyTree and
# RecreateReparsePoints) onto the same freshly formatted destination. Prints medians and the
# ratio restore / anchor; lower is better. Run by hand as root (not by CI); it never judges
# the times.
#
# The source: a 512 MiB mkntfs volume holding a few hundred MiB of this machine's binaries and
# text (bench_lib.sh's real_tree, as bench_mount.sh builds it), imaged stored and AES-256
# compressed. The destination: the partition of a loop disk (MBR, 1 MiB) in /dev/shm. A run is
# everything a restore does: the format (mkntfs, as harvesta runs it), the source's mount, the copy, the
# junctions, the unmounts (ntfs-3g has written everything out when it ends). One uncounted run
# of each case warms up; then ROUNDS (default 5) interleaved rounds, the order of the cases
# rotated by round; the image files and the volume are read once before every run, so every
# side reads them from the page cache. At the end a restore is checked to have copied every
# file. Needs root, /dev/fuse,
# ntfs-3g, sfdisk, rsync, bc.
set -euo pipefail
harvesta=$(realpath "$1")
tool=$(realpath "$2")
rounds=${3:-5}
work=$(mktemp -d /tmp/harvesta-bench-restore.XXXXXX)
shm=$(mktemp -d /dev/shm/harvesta-bench-restore.XXXXXX)
src=$work/src dst=$work/dst
mkdir -p "$src" "$dst"
export HARVESTA_PASSWORD=harvesta-bench
loop=
cleanup() {
  mountpoint -q "$dst" && umount "$dst"
  mountpoint -q "$src" && umount "$src"
  if [ -n "$loop" ]; then partx -d "$loop" 2>/dev/null || true; losetup -d "$loop"; fi
  rm -rf "$work" "$shm"
}
trap cleanup EXIT
# shellcheck source=/dev/null  # bench_lib.sh: median, real_tree
source "$(dirname "$0")/bench_lib.sh"

# ntfs-3g may go on writing for a moment after umount returns.
unmount() {
  umount "$1"
  while pgrep -f "ntfs-3g .* $1\$" >/dev/null; do sleep 0.05; done
}
# checked_seconds COMMAND...: as seconds, but a run that fails ends the benchmark: it must not
# count as a fast one.
checked_seconds() {
  local start
  start=$(date +%s.%N)
  "$@" >/dev/null 2>"$work/last-error" || { echo "failed: $*: $(cat "$work/last-error")" >&2; exit 1; }
  echo "$(date +%s.%N) - $start" | bc
}

echo "building the source volume..."
truncate -s 512M "$work/tree.ntfs"
mkntfs -F -Q -q -L BENCH "$work/tree.ntfs" >/dev/null 2>&1
ntfs-3g "$work/tree.ntfs" "$src"
real_tree "$src"
mkdir "$src/Junction"
setfattr -h -n system.ntfs_reparse_data -v "$(python3 - <<'PY'
import struct
sub, prn = "\\??\\C:\\usr".encode("utf-16-le"), "C:\\usr".encode("utf-16-le")
body = struct.pack("<HHHH", 0, len(sub), len(sub) + 2, len(prn)) + sub + b"\0\0" + prn + b"\0\0"
print("0x" + (struct.pack("<IHH", 0xA0000003, len(body), 0) + body).hex())
PY
)" "$src/Junction"
echo "tree: $(find "$src" -type f | wc -l) files, $(du -sm "$src" 2>/dev/null | cut -f1) MiB"
unmount "$src"
"$harvesta" make-image -p "$work/tree.ntfs,label=BENCH" "$work/stored.qvimg" >/dev/null
"$harvesta" make-image -p "$work/tree.ntfs,label=BENCH" --compression 2 --method byte-tokens \
  --password "$HARVESTA_PASSWORD" --cipher 3 "$work/aes.qvimg" >/dev/null

truncate -s 768M "$shm/disk.img"
printf 'label: dos\nstart=2048, type=7\n' | sfdisk -q "$shm/disk.img"
loop=$(losetup -f --show -P "$shm/disk.img")
partx -a "$loop" 2>/dev/null || true
part=${loop}p1

anchor() {
  mkntfs --quick -p 2048 -H 255 -S 63 -c 4096 -L BENCH "$part" &&
    ntfs-3g -o ro "$work/tree.ntfs" "$src" && ntfs-3g "$part" "$dst" &&
    "$tool" --ntfs "$src" "$dst" && unmount "$dst" && unmount "$src"
}
restore() { "$harvesta" restore "$work/$1.qvimg" --partition 1 --to "$part" --format ntfs --yes; }
stored() { restore stored; }
aes() { restore aes; }

# One run of each first, not counted: the first runs pay for cold caches (the tree, the tools).
for name in anchor stored aes; do checked_seconds "$name" >/dev/null; done
declare -A runs
for (( round = 0; round < rounds; round++ )); do
  cases=(anchor stored aes)
  for (( i = 0; i < ${#cases[@]}; i++ )); do
    name=${cases[(i + round) % ${#cases[@]}]}
    cat "$work/tree.ntfs" "$work"/*.qvimg >/dev/null
    runs[$name]+="$(checked_seconds "$name") "
  done
  echo "round $((round + 1)): anchor ${runs[anchor]}| stored ${runs[stored]}| aes ${runs[aes]}"
done

# The restore copied the whole tree: every file of the volume arrived.
restore aes >/dev/null 2>&1
ntfs-3g -o ro "$work/tree.ntfs" "$src"
ntfs-3g -o ro "$part" "$dst"
expected=$(cd "$src" && find . -type f | wc -l) restored=$(cd "$dst" && find . -type f | wc -l)
unmount "$dst"
unmount "$src"
[ "$expected" = "$restored" ] || { echo "the restore copied $restored of $expected files" >&2; exit 1; }

# shellcheck disable=SC2086  # the run lists are words on purpose
base=$(median ${runs[anchor]})
printf 'anchor (mkntfs, ntfs-3g -o ro on the volume, the copier)  median %7.2f s\n' "$base"
for name in stored aes; do
  # shellcheck disable=SC2086
  value=$(median ${runs[$name]})
  printf 'harvesta restore --format ntfs, %-26s median %7.2f s: %.3fx\n' "$name image" "$value" \
    "$(echo "$value / $base" | bc -l)"
done
