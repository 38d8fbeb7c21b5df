#!/usr/bin/env bash
# bench_mount.sh HARVESTA: reading through harvesta mount against the same bytes read from a
# plain file, in the same run. Prints times and ratios (harvesta / anchor); lower is better.
#   sequential: 1 MiB reads of a 256 MiB uncompressed partition (--raw disk file, fresh mount)
#   random:     4 KiB reads at 3000 random offsets of the same partition
#   tree copy:  rsync of an NTFS volume's files through ntfs-3g on the harvesta disk file vs
#               ntfs-3g on the plain volume
# Needs root and /dev/fuse. Runs are interleaved, three rounds; medians are reported.
set -euo pipefail
harvesta=$(realpath "$1")
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
cat "$work/plain.img" > /dev/null  # the anchor reads from the page cache, as does the image

"$scripts/make-test-volume" ntfs "$work/tree.ntfs" 128
"$harvesta" make-image -p "$work/tree.ntfs" "$work/tree.qvimg" >/dev/null

declare -a seqH seqA rndH rndA treeH treeA
for round in 1 2 3; do
  seqA+=("$(seconds dd if="$work/plain.img" of=/dev/null bs=1M)")
  "$harvesta" mount "$work/plain.qvimg" "$work/mnt" --raw >/dev/null
  seqH+=("$(seconds dd if="$work/mnt/1.img" of=/dev/null bs=1M)")
  "$harvesta" unmount "$work/mnt"

  rndA+=("$(seconds random_reads "$work/plain.img")")
  "$harvesta" mount "$work/plain.qvimg" "$work/mnt" --raw >/dev/null
  rndH+=("$(seconds random_reads "$work/mnt/1.img")")
  "$harvesta" unmount "$work/mnt"

  ntfs-3g -o ro "$work/tree.ntfs" "$work/vol"
  treeA+=("$(seconds rsync -a "$work/vol/" "$work/copy-a/")")
  umount "$work/vol"; rm -rf "$work/copy-a"
  "$harvesta" mount "$work/tree.qvimg" --partition 1 "$work/mnt" >/dev/null
  treeH+=("$(seconds rsync -a "$work/mnt/" "$work/copy-h/")")
  "$harvesta" unmount "$work/mnt"; rm -rf "$work/copy-h"
done

report() {  # report NAME HARVESTA-MEDIAN ANCHOR-MEDIAN
  printf '%-34s harvesta %8.3f s   anchor %8.3f s   ratio %5.2fx\n' "$1" "$2" "$3" "$(echo "$2 / $3" | bc -l)"
}
report "sequential 1 MiB reads, 256 MiB" "$(median "${seqH[@]}")" "$(median "${seqA[@]}")"
report "4 KiB random reads x 3000" "$(median "${rndH[@]}")" "$(median "${rndA[@]}")"
report "tree copy through ntfs-3g" "$(median "${treeH[@]}")" "$(median "${treeA[@]}")"
