#!/usr/bin/env bash
# bench_mount.sh HARVESTA [ROUNDS]: reading through harvesta mount against the same bytes read
# from a plain file, in the same run. Prints medians and ratios (harvesta / anchor); lower is
# better. Both sides run the same reader (dd bs=1M, the same Python pread loop, the same rsync)
# over the same bytes, every harvesta run on a fresh mount, so its own page cache starts empty:
#   cold: `sync; echo 3 > /proc/sys/vm/drop_caches` before every run of either side, so both
#         read their bytes from the disk the files live on;
#   warm: the plain volume (anchor) or the image file (harvesta) read once beforehand, so both
#         read their bytes from the page cache.
# Cases: sequential 1 MiB reads of a 256 MiB uncompressed partition (--raw disk file); 4 KiB
# reads at 3000 random offsets of it; rsync of an NTFS volume's files through ntfs-3g on the
# harvesta disk file against ntfs-3g on the plain volume. Every block is checked against its
# digest before it is served, as by default; the sequential cases run once more with --no-check
# to show what the checks cost.
# Needs root and /dev/fuse. Runs are interleaved, the side that goes first alternating by round;
# medians of ROUNDS (default 5) are reported.
set -euo pipefail
harvesta=$(realpath "$1")
rounds=${2:-5}
scripts=$(cd "$(dirname "$0")/../scripts" && pwd)
work=$(mktemp -d /tmp/harvesta-bench.XXXXXX)
mkdir -p "$work/mnt" "$work/vol"
cleanup() {
  mountpoint -q "$work/vol" && umount "$work/vol"
  "$harvesta" unmount "$work/mnt" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

seconds() { local start=$(date +%s.%N); "$@" >/dev/null 2>&1; echo "$(date +%s.%N) - $start" | bc; }
median() { printf '%s\n' "$@" | sort -g | sed -n "$(( ($# + 1) / 2 ))p"; }
drop_caches() { sync; echo 3 > /proc/sys/vm/drop_caches; }
# prepare cold|warm FILE: the state the next run starts from.
prepare() { if [ "$1" = cold ]; then drop_caches; else cat "$2" > /dev/null; fi; }
sequential() { dd if="$1" of=/dev/null bs=1M; }
random_reads() {
  python3 - "$1" <<'PY'
import os, random, sys
fd = os.open(sys.argv[1], os.O_RDONLY)
size = os.fstat(fd).st_size
rng = random.Random(7)
for _ in range(3000):
    os.pread(fd, 4096, rng.randrange(size // 4096) * 4096)
PY
}

# 256 MiB of mixed data: random, text and zeros.
head -c 96M /dev/urandom > "$work/plain.img"
{ yes "harvesta benchmark line of text" || true; } | head -c 96M >> "$work/plain.img"
truncate -s 256M "$work/plain.img"
"$harvesta" make-image -p "$work/plain.img,type=0x83" "$work/plain.qvimg" >/dev/null

"$scripts/make-test-volume" ntfs "$work/tree.ntfs" 128
"$harvesta" make-image -p "$work/tree.ntfs" "$work/tree.qvimg" >/dev/null

declare -A runs
record() { runs[$1]+="$2 "; }
# both NAME MODE ANCHOR-FUNCTION HARVESTA-FUNCTION: one run of each side, the order alternating
# by round so that neither side always follows the other's disk traffic.
both() {
  if (( round % 2 )); then "$3" "$1" "$2"; "$4" "$1" "$2"; else "$4" "$1" "$2"; "$3" "$1" "$2"; fi
}
# READER over the plain volume, and over a fresh --raw mount.
raw_anchor() {
  prepare "$2" "$work/plain.img"
  record "$1 anchor" "$(seconds "$reader" "$work/plain.img")"
}
raw_harvesta() {
  prepare "$2" "$work/plain.qvimg"
  # shellcheck disable=SC2086
  "$harvesta" mount "$work/plain.qvimg" "$work/mnt" --raw ${mount_flags:-} >/dev/null
  record "$1 harvesta" "$(seconds "$reader" "$work/mnt/1.img")"
  "$harvesta" unmount "$work/mnt"
}
tree_anchor() {
  prepare "$2" "$work/tree.ntfs"
  ntfs-3g -o ro "$work/tree.ntfs" "$work/vol"
  record "$1 anchor" "$(seconds rsync -a "$work/vol/" "$work/copy/")"
  umount "$work/vol"; rm -rf "$work/copy"
}
tree_harvesta() {
  prepare "$2" "$work/tree.qvimg"
  "$harvesta" mount "$work/tree.qvimg" --partition 1 "$work/mnt" >/dev/null
  record "$1 harvesta" "$(seconds rsync -a "$work/mnt/" "$work/copy/")"
  "$harvesta" unmount "$work/mnt"; rm -rf "$work/copy"
}

cases=()
for mode in cold warm; do
  cases+=("sequential 1 MiB, 256 MiB, $mode" "sequential, --no-check, $mode" "4 KiB random x 3000, $mode"
          "tree copy via ntfs-3g, $mode")
done
for round in $(seq "$rounds"); do
  for mode in cold warm; do
    reader=sequential both "sequential 1 MiB, 256 MiB, $mode" $mode raw_anchor raw_harvesta
    mount_flags=--no-check reader=sequential both "sequential, --no-check, $mode" $mode raw_anchor raw_harvesta
    reader=random_reads both "4 KiB random x 3000, $mode" $mode raw_anchor raw_harvesta
    both "tree copy via ntfs-3g, $mode" $mode tree_anchor tree_harvesta
  done
done

echo "cold: page caches dropped before every run; warm: the source file read once before every run"
for name in "${cases[@]}"; do
  # shellcheck disable=SC2086
  h=$(median ${runs[$name harvesta]}) a=$(median ${runs[$name anchor]})
  printf '%-36s harvesta %8.3f s   anchor %8.3f s   ratio %5.2fx\n' "$name" "$h" "$a" \
    "$(echo "$h / $a" | bc -l)"
done
