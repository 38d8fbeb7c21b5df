# shellcheck shell=bash
# Shared by the mount tests: sourced after HARVESTA_REQUIRE_MOUNTS and $harvesta are known.
# Exit 77 (skipped) without root or FUSE, or 1 when HARVESTA_REQUIRE_MOUNTS is set: CI must
# not pass without these tests.
if ! { [ "$(id -u)" = 0 ] && [ -c /dev/fuse ]; }; then
  echo "needs root and /dev/fuse"
  [ -n "${HARVESTA_REQUIRE_MOUNTS:-}" ] && exit 1
  exit 77
fi

fail() { echo "FAIL: $*" >&2; exit 1; }

# The runtime folder harvesta keeps for a mount point (FNV-1a of its real path).
runtime_of() {
  python3 -c 'import sys
h = 14695981039346656037
for c in sys.argv[1].encode(): h = ((h ^ c) * 1099511628211) % 2**64
print("/run/harvesta/%016x" % h)' "$(realpath "$1")"
}
