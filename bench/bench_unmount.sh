#!/usr/bin/env bash
# bench_unmount.sh HARVESTA [ROUNDS]: how long `harvesta mount` and `harvesta unmount` take on a
# small ext4 image (16 MiB, uncompressed), each round a fresh mount. Prints the medians and the
# slowest round in seconds. Needs root and /dev/fuse.
set -euo pipefail
harvesta=$(realpath "$1")
rounds=${2:-10}
work=$(mktemp -d /tmp/harvesta-bench-unmount.XXXXXX)
mkdir -p "$work/mnt"
cleanup() {
  "$harvesta" unmount "$work/mnt" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

truncate -s 16M "$work/ext4.vol"
mkfs.ext4 -q "$work/ext4.vol"
"$harvesta" make-image -p "$work/ext4.vol" "$work/img.qvimg" >/dev/null

seconds() {
  local start
  start=$(date +%s.%N)
  "$@" >/dev/null
  echo "$(date +%s.%N) - $start" | bc
}
median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
slowest() { sort -n | tail -1; }

: >"$work/mount.txt"
: >"$work/unmount.txt"
for _ in $(seq "$rounds"); do
  seconds "$harvesta" mount "$work/img.qvimg" --partition 1 "$work/mnt" >>"$work/mount.txt"
  seconds "$harvesta" unmount "$work/mnt" >>"$work/unmount.txt"
done
printf 'mount:   median %s s, slowest %s s (%s rounds)\n' "$(median <"$work/mount.txt")" "$(slowest <"$work/mount.txt")" "$rounds"
printf 'unmount: median %s s, slowest %s s (%s rounds)\n' "$(median <"$work/unmount.txt")" "$(slowest <"$work/unmount.txt")" "$rounds"
