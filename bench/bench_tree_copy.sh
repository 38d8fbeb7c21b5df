#!/usr/bin/env bash
# bench_tree_copy.sh TREE_COPY_TOOL FIXUP [ROUNDS]: the Linux restore's copy between two ntfs-3g
# mounts (tree_copy_tool --ntfs: CopyTree and RecreateReparsePoints) against its anchor in the
# same run, `rsync -aHXS --no-links` with the same exclusions followed by FIXUP (a fix-up
# script taking SOURCE DESTINATION that re-creates reparse points, security, attributes and
# creation times). Prints medians and the ratio copier / anchor; lower is better. Run by hand
# (not by CI); it never judges the times.
#
# The source: a 1 GiB mkntfs volume holding this machine's /usr/include (many small files),
# the largest libraries of /usr/lib/x86_64-linux-gnu, a stream, a junction and a sparse file,
# mounted read-only. The destination: a fresh 1 GiB mkntfs volume for every run, in /dev/shm.
# A run is the copy plus the destination's unmount (ntfs-3g writes out what it still holds).
# Rounds are interleaved, the order of the cases rotated by round; both source and
# destination images are in the page cache. Also the cost of the counting pass: listing the
# source tree alone on a fresh mount. Needs root, /dev/fuse, ntfs-3g, rsync, python3, bc.
set -euo pipefail
tool=$(realpath "$1")
fixup=$(realpath "$2")
rounds=${3:-3}
work=$(mktemp -d /tmp/harvesta-bench-copy.XXXXXX)
shm=$(mktemp -d /dev/shm/harvesta-bench-copy.XXXXXX)
source_image=$work/source.ntfs destination_image=$shm/destination.ntfs
src=$work/src dst=$work/dst
mkdir -p "$src" "$dst"
cleanup() {
  mountpoint -q "$dst" && umount "$dst"
  mountpoint -q "$src" && umount "$src"
  rm -rf "$work" "$shm"
}
trap cleanup EXIT

# ntfs-3g may go on writing for a moment after umount returns; a volume mounted again before
# it has finished comes up read-only.
unmount() {
  umount "$1"
  while pgrep -f "ntfs-3g .* $1\$" >/dev/null; do sleep 0.05; done
}

# shellcheck source=/dev/null  # bench_lib.sh: seconds, median
source "$(dirname "$0")/bench_lib.sh"

echo "building the source volume..."
truncate -s 1G "$source_image"
mkntfs -F -Q -q -c 4096 -L BENCHSRC "$source_image" >/dev/null 2>&1
ntfs-3g "$source_image" "$src"
cp -r /usr/include "$src/include"
mkdir -p "$src/libraries" "$src/System Volume Information"
find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -size +4M -printf '%s %p\n' | sort -rn | head -12 |
  while read -r _ path; do cp "$path" "$src/libraries/"; done
setfattr -n user.Zone.Identifier -v '[ZoneTransfer] ZoneId=3' "$src/include/stdio.h"
truncate -s 64M "$src/sparse.bin"
printf 'tail' | dd of="$src/sparse.bin" bs=1 seek=$((40 * 1048576)) conv=notrunc status=none
head -c 1000000 /dev/urandom > "$src/pagefile.sys"
mkdir "$src/Documents and Settings"
junction=$(python3 - <<'PY'
import struct
sub, prn = "\\??\\C:\\include".encode("utf-16-le"), "C:\\include".encode("utf-16-le")
body = struct.pack("<HHHH", 0, len(sub), len(sub) + 2, len(prn)) + sub + b"\0\0" + prn + b"\0\0"
print("0x" + (struct.pack("<IHH", 0xA0000003, len(body), 0) + body).hex())
PY
)
setfattr -h -n system.ntfs_reparse_data -v "$junction" "$src/Documents and Settings"
unmount "$src"
files=$(find /usr/include -type f | wc -l)
echo "source: $files files of /usr/include, $(du -sh "$src/../source.ntfs" | cut -f1) image"

fresh_destination() {
  truncate -s 0 "$destination_image"
  truncate -s 1G "$destination_image"
  mkntfs -F -Q -q -c 4096 -L BENCHDST "$destination_image" >/dev/null 2>&1
  cat "$source_image" "$destination_image" > /dev/null
}

excluded=(--exclude='/System Volume Information' --exclude=/pagefile.sys --exclude=/hiberfil.sys)
copier() {
  "$tool" --ntfs "$src" "$dst" && unmount "$dst"
}
anchor() {
  rsync -aHXS --no-links "${excluded[@]}" "$src/" "$dst/" && python3 "$fixup" "$src" "$dst" && unmount "$dst"
}
# Once, untimed: the copier's copy holds every byte and stream of the source, and its junction.
check_copier() {
  fresh_destination
  ntfs-3g -o ro "$source_image" "$src"
  ntfs-3g "$destination_image" "$dst"
  "$tool" --ntfs "$src" "$dst" || { echo "the copier reported problems" >&2; exit 1; }
  local differences
  # (--no-links names every link it leaves out; the copier makes them again)
  differences=$(rsync -anciX --no-links "${excluded[@]}" "$src/" "$dst/" | grep -v '^skipping non-regular file' || true)
  [ -z "$differences" ] || { echo "the copy differs:" >&2; head -20 <<<"$differences" >&2; exit 1; }
  getfattr --absolute-names -h -n system.ntfs_reparse_data "$dst/Documents and Settings" >/dev/null ||
    { echo "no junction in the copy" >&2; exit 1; }
  unmount "$dst"
  unmount "$src"
  echo "checked: the copier's copy equals the source"
}
check_copier

declare -A runs
one_run() {  # one_run CASE
  fresh_destination
  ntfs-3g -o ro "$source_image" "$src"
  ntfs-3g "$destination_image" "$dst"
  runs[$1]+="$(seconds "$1") "
  mountpoint -q "$dst" && unmount "$dst"
  unmount "$src"
}
listing="" ratios=""
for (( round = 0; round < rounds; round++ )); do
  cases=(copier anchor)
  for (( i = 0; i < ${#cases[@]}; i++ )); do one_run "${cases[(i + round) % ${#cases[@]}]}"; done
  ntfs-3g -o ro "$source_image" "$src"
  listing+="$("$tool" --ntfs --list-only "$src" /nonexistent | sed 's/.*list=//') "
  unmount "$src"
  # shellcheck disable=SC2086  # the run lists are words on purpose
  {
    set -- ${runs[copier]}; last_copy=${!#}
    set -- ${runs[anchor]}; last_base=${!#}
  }
  ratios+="$(echo "$last_copy / $last_base" | bc -l) "
  printf 'round %d: copier %.2f s, anchor %.2f s\n' $((round + 1)) "$last_copy" "$last_base"
done

# shellcheck disable=SC2086  # the run lists are words on purpose
{
  copy=$(median ${runs[copier]})
  base=$(median ${runs[anchor]})
  list=$(median $listing)
  paired=$(median $ratios)
}
printf 'copier (CopyTree + RecreateReparsePoints) median %.2f s\n' "$copy"
printf 'anchor (rsync -aHXS --no-links + fix-up)   median %.2f s\n' "$base"
printf "ratio copier / anchor                      %.3f (median of each round's ratio %.3f)\n" \
  "$(echo "$copy / $base" | bc -l)" "$paired"
printf 'counting pass (listing alone, fresh mount)  median %.3f s (%.1f %% of the copy)\n' "$list" \
  "$(echo "100 * $list / $copy" | bc -l)"
