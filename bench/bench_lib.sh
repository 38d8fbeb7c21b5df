# Sourced by the benchmark scripts: the timing and the medians they all report.
# shellcheck shell=bash

# seconds COMMAND...: wall seconds the command took, its output dropped.
seconds() {
  local start
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  echo "$(date +%s.%N) - $start" | bc
}
median() { printf '%s\n' "$@" | sort -g | sed -n "$(( ($# + 1) / 2 ))p"; }

# real_tree DIR [MIB]: regular files of this machine's /usr/lib and
# /usr/share/doc (binaries and text), in path order, until MIB (default 320) MiB, copied into
# DIR: the same tree from one run to the next.
real_tree() {
  local limit=${2:-320}
  find /usr/lib /usr/share/doc -xdev -type f -size -32M -printf '%s\t%p\n' 2>/dev/null | sort -t$'\t' -k2 |
    awk -F'\t' -v limit=$((limit << 20)) '$1 + total <= limit { total += $1; print $2 }' |
    rsync -a --files-from=- / "$1/"
}
