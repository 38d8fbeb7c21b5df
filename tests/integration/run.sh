#!/usr/bin/env bash
# End to end with real file systems: run.sh HARVESTA CASE (ntfs, fat32, ext4, failures,
# hostile). Builds a volume, wraps it in images of several shapes, mounts each with harvesta
# mount, copies the files out with rsync and compares them with the volume mounted directly;
# export must equal the volume and verify must pass. Skipped without root or FUSE (common.sh).
set -euo pipefail
harvesta=$(realpath "$1") case=$2
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
# shellcheck source=tests/integration/common.sh
. "$(dirname "$0")/common.sh"

work=$(mktemp -d /tmp/harvesta-it.XXXXXX)
mnt=$work/mnt ref=$work/ref
mkdir -p "$mnt" "$ref"
cleanup() {
  [ -n "${victim:-}" ] && kill "$victim" 2>/dev/null
  "$harvesta" unmount "$mnt" >/dev/null 2>&1 || true
  mountpoint -q "$ref" && umount "$ref"
  rm -rf "$work"
}
trap cleanup EXIT

# Nothing in an image may carry privileges onto the host: nosuid and nodev always, noexec
# unless asked for (safe_options PATH [exec]).
safe_options() {
  local options; options=",$(findmnt -n -o OPTIONS --mountpoint "$1"),"
  [[ $options == *,nosuid,* && $options == *,nodev,* ]] || fail "$1 mounted with $options"
  if [ "${2:-}" = exec ]; then [[ $options != *,noexec,* ]] || fail "$1: -o exec gave $options"
  else [[ $options == *,noexec,* ]] || fail "$1 mounted without noexec: $options"; fi
}

# What a tree holds: type, size, content digest, link target relative to its mount.
manifest() {
  local root=$1 mountedAt=${2:-$1}
  (cd "$root" && find . -path ./lost+found -prune -o -printf '%y %p %l\n' | sed "s#$mountedAt##" | sort)
  (cd "$root" && find . -type f ! -path './lost+found/*' -exec md5sum {} + | sort -k2)
}

mount_reference() {  # mount_reference KIND VOLUME
  case $1 in
    ntfs) ntfs-3g -o ro "$2" "$ref" ;;
    ext4) mount -o ro,loop "$2" "$ref" ;;
  esac
}

check_shape() {  # check_shape KIND VOLUME NAME PARTITION-SUFFIX MAKE-IMAGE-OPTIONS...
  local kind=$1 volume=$2 name=$3 suffix=$4; shift 4
  local image=$work/$name.qvimg out=$work/out-$name
  "$harvesta" make-image -p "$volume$suffix" "$@" "$image" >/dev/null
  "$harvesta" mount "$image" --partition 1 "$mnt" >/dev/null
  safe_options "$mnt"
  rsync -aX "$mnt/" "$out/"
  if [ "$kind" = ntfs ]; then
    [ "$(getfattr --absolute-names --only-values -n user.Zone.Identifier "$mnt/Readme.txt")" = '[ZoneTransfer] ZoneId=3' ] ||
      fail "$name: alternate data stream"
    [ "$(readlink "$mnt/Junction")" = "$mnt/level1" ] || fail "$name: junction"
  fi
  local mountedAt=$mnt
  "$harvesta" unmount "$mnt"
  ! mountpoint -q "$mnt" || fail "$name: still mounted"
  mount_reference "$kind" "$volume"
  diff <(manifest "$ref" "$ref") <(manifest "$out" "$mountedAt") || fail "$name: copied tree differs"
  umount "$ref"
  "$harvesta" export "$image" --partition 1 "$work/export.img"
  cmp "$volume" "$work/export.img" || fail "$name: export differs"
  "$harvesta" verify "$image" >/dev/null || fail "$name: verify"
  rm -rf "$out" "$work/export.img" "$work"/"$name"*.qvimg
  echo "ok: $kind $name"
}

case $case in
  ntfs)
    "$scripts/make-test-volume" ntfs "$work/ntfs.vol" 48
    check_shape ntfs "$work/ntfs.vol" v6-plain-raw ,raw=65536 --format-version 6
    check_shape ntfs "$work/ntfs.vol" v2-method1 "" --format-version 2 --compression 1 --method method1
    HARVESTA_PASSWORD='pässwörd' check_shape ntfs "$work/ntfs.vol" v6-tokens-aes256 "" \
      --compression 2 --method byte-tokens --password 'pässwörd' --cipher 3
    "$harvesta" make-image -p "$work/ntfs.vol" --compression 1 --method alternate --split 3000000 \
      "$work/split.qvimg" >/dev/null
    parts=("$work"/split*.qvimg)  # the glob sorts them by name
    [ "${#parts[@]}" -ge 3 ] || fail "split: fewer than three files"
    last=${parts[-1]}
    "$harvesta" mount "$last" --partition 1 "$mnt" >/dev/null
    mount_reference ntfs "$work/ntfs.vol"
    diff <(manifest "$ref" "$ref") <(manifest "$mnt" "$mnt") || fail "split: tree differs"
    umount "$ref"
    "$harvesta" unmount "$mnt"
    "$harvesta" verify "$last" >/dev/null || fail "split: verify"
    echo "ok: ntfs three-file set"
    ;;
  ext4)
    "$scripts/make-test-volume" ext4 "$work/ext4.vol" 32
    check_shape ext4 "$work/ext4.vol" v6-plain-raw ,raw=4096
    HARVESTA_PASSWORD=secret check_shape ext4 "$work/ext4.vol" v6-method1-aes128 "" \
      --compression 1 --method method1 --password secret --cipher 1
    ;;
  fat32)
    "$scripts/make-test-volume" fat32 "$work/fat.vol" 64
    "$harvesta" make-image -p "$work/fat.vol,type=0x0C" --compression 1 --method alternate \
      "$work/fat.qvimg" >/dev/null
    export LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1
    message=$("$harvesta" mount "$work/fat.qvimg" --partition 1 "$mnt")
    if grep -qw vfat /proc/filesystems; then
      rsync -a "$mnt/" "$work/out/"
    else
      [[ $message == *"no vfat"*"$mnt/1.img"* ]] || fail "fat32: message does not name the disk file: $message"
      mcopy -s -p -m -n -i "$mnt/1.img" ::/ "$work/out"
    fi
    "$harvesta" unmount "$mnt"
    mcopy -s -p -m -n -i "$work/fat.vol" ::/ "$work/expected"
    diff -r "$work/expected" "$work/out" || fail "fat32: copied tree differs"
    "$harvesta" export "$work/fat.qvimg" --partition 1 - | cmp - "$work/fat.vol" || fail "fat32: export to stdout"
    echo "ok: fat32"
    ;;
  failures)
    "$scripts/make-test-volume" ext4 "$work/ext4.vol" 32
    "$harvesta" make-image -p "$work/ext4.vol" --compression 1 --method byte-tokens --password pw \
      "$work/img.qvimg" >/dev/null
    export HARVESTA_PASSWORD=wrong
    ! "$harvesta" mount "$work/img.qvimg" --partition 1 "$mnt" 2>"$work/err" || fail "wrong password mounted"
    grep -q "wrong password" "$work/err" || fail "wrong password: no clear message"
    ! mountpoint -q "$mnt" || fail "wrong password: $mnt is mounted"
    [ ! -e "$(runtime_of "$mnt")" ] || fail "wrong password: runtime folder $(runtime_of "$mnt") left"
    export HARVESTA_PASSWORD=pw

    # A daemon killed outright leaves nothing behind: no FUSE layer, no file system on the
    # mount point, no loop device on its disk file, no runtime folder.
    "$harvesta" mount "$work/img.qvimg" --partition 1 "$mnt" >/dev/null
    loop=$(findmnt -n -o SOURCE --mountpoint "$mnt")
    backing=$(losetup --raw -n -O BACK-MAJ:MIN,BACK-INO "$loop")  # its path changes once FUSE is gone
    runtime=$(dirname "$(dirname "$(losetup -n -O BACK-FILE "$loop")")")
    [ -f "$runtime/pid" ] || fail "kill: no runtime folder at $runtime"
    kill -9 "$(cut -d" " -f1 "$runtime/pid")"  # the pid, then its start time
    left() {
      mountpoint -q "$mnt" && echo "$mnt still mounted"
      grep -qF " $runtime/disk " /proc/self/mountinfo && echo "FUSE layer"
      losetup -l --raw -n -O BACK-MAJ:MIN,BACK-INO | grep -qxF "$backing" && echo "loop device on the disk file"
      [ -e "$runtime" ] && echo "runtime folder $runtime"
      true
    }
    for _ in $(seq 100); do [ -z "$(left)" ] && break; sleep 0.1; done
    [ -z "$(left)" ] || fail "killed daemon left: $(left)"

    # Foreground: Ctrl-C unmounts everything.
    "$harvesta" mount -f "$work/img.qvimg" --partition 1 "$mnt" >/dev/null &
    fg=$!
    for _ in $(seq 50); do mountpoint -q "$mnt" && break; sleep 0.1; done
    mountpoint -q "$mnt" || fail "foreground mount not ready"
    kill -INT "$fg"
    wait "$fg" || fail "foreground mount exited with an error"
    if mountpoint -q "$mnt" || grep -q "fuse.harvesta" /proc/self/mountinfo; then fail "Ctrl-C left a mount"; fi

    # One flipped byte in a stored block: verify names the block, reads fail with EIO.
    python3 - "$work/img.qvimg" <<'PY'
import sys
path = sys.argv[1]
with open(path, "r+b") as f:
    # Block 0 is stored first; garbling its first cipher block breaks its token stream.
    f.seek(8)
    b = f.read(1); f.seek(-1, 1); f.write(bytes([b[0] ^ 0x40]))
PY
    ! "$harvesta" verify "$work/img.qvimg" >/dev/null 2>"$work/err" || fail "verify passed a flipped byte"
    grep -q "partition 1 block 0:" "$work/err" || fail "verify did not name the block"
    ! "$harvesta" export "$work/img.qvimg" --partition 1 "$work/out.img" 2>/dev/null || fail "export of damage"
    [ ! -e "$work/out.img" ] || fail "export left a half-written file"
    "$harvesta" mount "$work/img.qvimg" "$mnt" --raw >/dev/null
    ! dd if="$mnt/1.img" of=/dev/null bs=1M 2>"$work/err" || fail "damaged block read without error"
    grep -q "Input/output error" "$work/err" || fail "damaged block: not EIO"
    "$harvesta" unmount "$mnt"
    echo "ok: failures"
    ;;
  hostile)
    # An ext4 volume holding a set-user-ID copy of id and a device node anyone may open.
    chmod 755 "$work"  # the unprivileged user must reach the mount point
    truncate -s 16M "$work/ext4.vol"
    mkfs.ext4 -q "$work/ext4.vol"
    mount -o loop "$work/ext4.vol" "$ref"
    install -m 4755 "$(command -v id)" "$ref/id"
    mknod -m 666 "$ref/null" c 1 3
    umount "$ref"
    "$harvesta" make-image -p "$work/ext4.vol" "$work/img.qvimg" >/dev/null
    nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
    for exec in "" exec; do
      "$harvesta" mount ${exec:+-o $exec} "$work/img.qvimg" --partition 1 "$mnt" >/dev/null
      safe_options "$mnt" "$exec"
      safe_options "$(runtime_of "$mnt")/disk"  # the FUSE layer
      if [ -z "$exec" ]; then
        ! nobody "$mnt/id" -u 2>/dev/null || fail "a program in the image ran under noexec"
      else
        [ "$(nobody "$mnt/id" -u)" = 65534 ] || fail "-o exec: set-user-ID program ran as $(nobody "$mnt/id" -u)"
      fi
      ! nobody sh -c ": > '$mnt/null'" 2>/dev/null || fail "-o '$exec': the image's device node opens"
      "$harvesta" unmount "$mnt"
    done
    ! "$harvesta" mount -o suid "$work/img.qvimg" --partition 1 "$mnt" 2>/dev/null || fail "-o suid accepted"
    "$harvesta" mount "$work/img.qvimg" "$mnt" --raw >/dev/null
    safe_options "$mnt"
    "$harvesta" unmount "$mnt"
    [ "$(stat -c '%a %u %F' /run/harvesta)" = "700 0 directory" ] || fail "/run/harvesta: $(stat -c '%a %u %F' /run/harvesta)"

    # Two mounts of one mount point at once: exactly one wins, the other says why.
    "$harvesta" mount "$work/img.qvimg" --partition 1 "$mnt" >"$work/out1" 2>&1 & first=$!
    "$harvesta" mount "$work/img.qvimg" --partition 1 "$mnt" >"$work/out2" 2>&1 & second=$!
    wins=0
    wait "$first" && wins=$((wins + 1))
    wait "$second" && wins=$((wins + 1))
    [ "$wins" = 1 ] || fail "two mounts at once: $wins succeeded: $(cat "$work/out1" "$work/out2")"
    grep -qE "in use by another harvesta mount|already a mount point" "$work/out1" "$work/out2" ||
      fail "the refused mount does not say why: $(cat "$work/out1" "$work/out2")"
    "$harvesta" unmount "$mnt"

    # Whatever else is mounted at the path is left alone.
    mount -t tmpfs harvesta-test "$mnt"
    ! "$harvesta" unmount "$mnt" 2>"$work/err" || fail "unmount took down a tmpfs"
    grep -q "not harvesta's" "$work/err" || fail "unmount of a tmpfs: $(cat "$work/err")"
    mountpoint -q "$mnt" || fail "the tmpfs is gone"
    umount "$mnt"

    # A pid file that names another process, bare or with that process's own start time:
    # unmount must not signal it.
    sleep 600 & victim=$!
    runtime=$(runtime_of "$mnt")
    start=$(awk '{print $22}' "/proc/$victim/stat")
    for planted in "$victim" "$victim $start"; do
      mkdir -m 700 "$runtime"
      echo "$planted" >"$runtime/pid"
      "$harvesta" unmount "$mnt" >/dev/null 2>&1 || true
      kill -0 "$victim" 2>/dev/null || fail "unmount signalled the process of a planted pid file ($planted)"
      rm -rf "$runtime"
    done
    kill "$victim"
    victim=
    echo "ok: hostile"
    ;;
  *) fail "unknown case $case" ;;
esac
