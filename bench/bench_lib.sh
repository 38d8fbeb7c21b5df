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
