#!/bin/sh
# Runs a Windows program under wine64 with a private prefix and no debug noise.
export WINEPREFIX="${WINEPREFIX:-${TMPDIR:-/tmp}/harvesta-wine-$(id -u)}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Start wineserver and Wine's system processes with their output on /dev/null: if they
# inherited the test's pipes, ctest would wait for them to exit after every test.
# wineserver exits 0 when it started a new server.
if wineserver -p30 </dev/null >/dev/null 2>&1; then
  wine wineboot </dev/null >/dev/null 2>&1   # also creates the prefix on first use
fi
exec wine "$@"
