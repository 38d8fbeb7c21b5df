#!/usr/bin/env bash
# bench_mount.sh HARVESTA [ROUNDS] [raw|tree|all]: reading through harvesta mount against anchors
# measured in the same run. Prints medians and ratios (harvesta / anchor); lower is better. Run by
# hand (not by CI); it never judges the times.
#
# raw: one 256 MiB partition of mixed data (random, text, zeros) as a --raw disk file, against
#   the same bytes in a plain file: sequential 1 MiB reads (dd), with block checks as by default
#   and with --no-check; 4 KiB reads at 3000 random offsets.
# tree: rsync -a of a real tree (a few hundred MiB of binaries and text from this machine's
#   /usr/lib and /usr/share/doc, written into a 512 MiB mkntfs volume through ntfs-3g) out of
#   harvesta mount of that volume's image, stored, compressed (byte tokens) and AES-256
#   compressed, each with block checks (default) and with --no-check. Anchors: ntfs-3g -o ro on
#   the plain volume, and on the volume as an EWF image (ewfacquire -c fast) under ewfmount. The
#   copy goes to tmpfs, so what is measured is the source side. Beside the wall times, the CPU
#   time each copy cost (rsync and the processes of its mount stack).
#
# cold: `sync; echo 3 > /proc/sys/vm/drop_caches` before every run, so every side reads its
#   bytes from the disk its files live on; warm: the file under the mount (plain volume, EWF or
#   harvesta image) read once beforehand, so every side reads it from the page cache. Every run
#   starts from a fresh mount stack. Runs are interleaved: each round runs every case once, its
#   order rotated by round so that no case always follows the same one; medians of ROUNDS
#   (default 5). Needs root, /dev/fuse, ntfs-3g, ewf-tools, rsync, bc, procps.
set -euo pipefail
harvesta=$(realpath "$1")
rounds=${2:-5}
sections=${3:-all}
work=$(mktemp -d /tmp/harvesta-bench.XXXXXX)
copy=$(mktemp -d /dev/shm/harvesta-bench-copy.XXXXXX)
mkdir -p "$work/mnt" "$work/vol" "$work/ewf"
export HARVESTA_PASSWORD=harvesta-bench
cleanup() {
  mountpoint -q "$work/vol" && umount "$work/vol"
  mountpoint -q "$work/ewf" && umount "$work/ewf"
  "$harvesta" unmount "$work/mnt" >/dev/null 2>&1 || true
  rm -rf "$work" "$copy"
}
trap cleanup EXIT
# shellcheck source=/dev/null  # bench_lib.sh: seconds, median, real_tree
source "$(dirname "$0")/bench_lib.sh"
drop_caches() { sync; echo 3 > /proc/sys/vm/drop_caches; }
# prepare cold|warm FILE: the state the next run starts from.
prepare() { if [ "$1" = cold ]; then drop_caches; else cat "$2" > /dev/null; fi; }

declare -A runs cpu
record() { runs[$1]+="$2 "; }
# run_round MODE CASE...: each case (a function taking its name and MODE) once, the list
# rotated by the round number.
run_round() {
  local mode=$1
  shift
  local count=$# i
  local -a list=("$@")
  for (( i = 0; i < count; i++ )); do
    "${list[(i + round) % count]}" "$mode"
  done
}

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

# raw_plain NAME MODE READER / raw_harvesta NAME MODE READER [MOUNT_FLAG...]
raw_plain() {
  prepare "$2" "$work/plain.img"
  record "$1, $2|anchor" "$(seconds "$3" "$work/plain.img")"
}
raw_harvesta() {
  local name=$1 mode=$2 reader=$3
  shift 3
  prepare "$mode" "$work/plain.qvimg"
  "$harvesta" mount "$work/plain.qvimg" "$work/mnt" --raw "$@" >/dev/null
  record "$name, $mode|harvesta" "$(seconds "$reader" "$work/mnt/1.img")"
  "$harvesta" unmount "$work/mnt"
}
seq_plain() { raw_plain "sequential 1 MiB" "$1" sequential; }
seq_harvesta() { raw_harvesta "sequential 1 MiB" "$1" sequential; }
seq_nocheck_plain() { raw_plain "sequential 1 MiB, --no-check" "$1" sequential; }
seq_nocheck_harvesta() { raw_harvesta "sequential 1 MiB, --no-check" "$1" sequential --no-check; }
random_plain() { raw_plain "4 KiB random x 3000" "$1" random_reads; }
random_harvesta() { raw_harvesta "4 KiB random x 3000" "$1" random_reads; }

# stack_cpu: CPU seconds used so far by the processes of the mount stack (all that name $work:
# ntfs-3g, the harvesta daemon, ewfmount).
stack_cpu() {
  local pid ticks=0
  for pid in $(pgrep -f -- "$work"); do
    [ -r "/proc/$pid/stat" ] && ticks=$((ticks + $(awk '{ print $14 + $15 }' "/proc/$pid/stat")))
  done
  echo "$ticks / $(getconf CLK_TCK)" | bc -l
}
# copy_tree SOURCE KEY: rsync of the tree, its wall time and the CPU time it cost (rsync's own and
# the mount stack's). On a loaded machine the CPU time is the steadier of the two.
copy_tree() {
  local start end rsync_cpu
  start=$(date +%s.%N)
  rsync_cpu=$({ TIMEFORMAT='%U + %S'; time rsync -a "$1/" "$copy/tree/" >/dev/null 2>&1; } 2>&1)
  end=$(date +%s.%N)
  record "$2" "$(echo "$end - $start" | bc)"
  cpu[$2]+="$(echo "$rsync_cpu + $(stack_cpu)" | bc -l) "
}
# tree_volume MODE LABEL FILE: the anchors' file system, ntfs-3g on FILE.
tree_volume() {
  ntfs-3g -o ro "$3" "$work/vol"
  copy_tree "$work/vol" "tree, $1|$2"
  umount "$work/vol"
  rm -rf "$copy/tree"
}
tree_plain() { prepare "$1" "$work/tree.ntfs"; tree_volume "$1" plain "$work/tree.ntfs"; }
tree_ewf() {
  prepare "$1" "$work/tree.E01"
  ewfmount "$work/tree.E01" "$work/ewf" >/dev/null
  tree_volume "$1" ewf "$work/ewf/ewf1"
  umount "$work/ewf"
}
# tree_harvesta MODE IMAGE LABEL [MOUNT_FLAG...]
tree_harvesta() {
  local mode=$1 image=$2 label=$3
  shift 3
  prepare "$mode" "$work/$image.qvimg"
  "$harvesta" mount "$work/$image.qvimg" --partition 1 "$work/mnt" "$@" >/dev/null
  copy_tree "$work/mnt" "tree, $mode|$label"
  "$harvesta" unmount "$work/mnt"
  rm -rf "$copy/tree"
}
tree_stored() { tree_harvesta "$1" stored stored; }
tree_compressed() { tree_harvesta "$1" compressed compressed; }
tree_compressed_nocheck() { tree_harvesta "$1" compressed "compressed --no-check" --no-check; }
tree_aes() { tree_harvesta "$1" aes "AES-256 compressed"; }
tree_aes_nocheck() { tree_harvesta "$1" aes "AES-256 compressed --no-check" --no-check; }

if [ "$sections" != tree ]; then
  head -c 96M /dev/urandom > "$work/plain.img"
  { yes "harvesta benchmark line of text" || true; } | head -c 96M >> "$work/plain.img"
  truncate -s 256M "$work/plain.img"
  "$harvesta" make-image -p "$work/plain.img,type=0x83" "$work/plain.qvimg" >/dev/null
fi
if [ "$sections" != raw ]; then
  truncate -s 512M "$work/tree.ntfs"
  mkntfs -F -Q -q -L BENCH "$work/tree.ntfs" >/dev/null 2>&1
  ntfs-3g "$work/tree.ntfs" "$work/vol"
  real_tree "$work/vol"
  echo "tree: $(find "$work/vol" -type f | wc -l) files, $(du -sm "$work/vol" | cut -f1) MiB"
  umount "$work/vol"
  "$harvesta" make-image -p "$work/tree.ntfs" "$work/stored.qvimg" >/dev/null
  "$harvesta" make-image -p "$work/tree.ntfs" --compression 2 --method byte-tokens \
    "$work/compressed.qvimg" >/dev/null
  "$harvesta" make-image -p "$work/tree.ntfs" --compression 2 --method byte-tokens \
    --password "$HARVESTA_PASSWORD" --cipher 3 "$work/aes.qvimg" >/dev/null
  ewfacquire -u -q -c fast -t "$work/tree" "$work/tree.ntfs" >/dev/null
  for file in "$work"/*.qvimg "$work/tree.E01"; do
    printf '  %5d MiB  %s\n' $(( $(stat -c %s "$file") >> 20 )) "${file##*/}"
  done
fi

for round in $(seq "$rounds"); do
  for mode in cold warm; do
    if [ "$sections" != tree ]; then
      run_round "$mode" seq_plain seq_harvesta seq_nocheck_plain seq_nocheck_harvesta \
        random_plain random_harvesta
    fi
    if [ "$sections" != raw ]; then
      run_round "$mode" tree_plain tree_ewf tree_stored tree_compressed tree_compressed_nocheck \
        tree_aes tree_aes_nocheck
    fi
  done
done

echo "cold: page caches dropped before every run; warm: the file under the mount read once before"
echo "every run. Medians of $rounds rounds; ratio = harvesta / anchor."
for key in "${!runs[@]}"; do echo "$key"; done | sort | while IFS='|' read -r name side; do
  case $side in anchor | plain | ewf) continue ;; esac
  # shellcheck disable=SC2086
  h=$(median ${runs[$name|$side]})
  line=$(printf '%-32s %-30s %7.3f s' "$name" "$side" "$h")
  for anchor in anchor plain ewf; do
    [ -n "${runs[$name|$anchor]:-}" ] || continue
    # shellcheck disable=SC2086
    a=$(median ${runs[$name|$anchor]})
    line+=$(printf '   %s %7.3f s: %5.2fx' "$anchor" "$a" "$(echo "$h / $a" | bc -l)")
  done
  echo "$line"
done
if [ "$sections" != raw ]; then
  echo "CPU seconds of the tree copies (rsync and the mount stack's processes), medians:"
  for key in "${!cpu[@]}"; do echo "$key"; done | sort | while IFS='|' read -r name side; do
    # shellcheck disable=SC2086
    printf '%-32s %-30s %7.3f s\n' "$name" "$side" "$(median ${cpu[$name|$side]})"
  done
fi
