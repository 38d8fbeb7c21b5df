#!/bin/sh
# run-gui-test.sh EMULATOR TEST-PROGRAM SHOT-FOLDER [ARGUMENTS...]
# Runs the GUI test program on an X display of its own (Xvfb picks a free number) and takes the
# screenshots it asks for: the program writes NAME.request holding a crop geometry into
# SHOT-FOLDER, this script saves that part of the screen as NAME.png and deletes the request.
set -u
emulator=$1 program=$2 shots=$3
shift 3
: "${WINEPREFIX:?names the Wine prefix of the driver tests}"
export WINEPREFIX
mkdir -p "$shots"
rm -f "$shots"/*.request "$shots"/*.png

display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do
  [ -s "$display_file" ] && break
  sleep 0.1
done
display=$(head -n 1 "$display_file")
rm -f "$display_file"
if [ -z "$display" ]; then
  echo "Xvfb did not start" >&2
  kill "$xvfb" 2>/dev/null
  exit 1
fi
export DISPLAY=":$display"

# Wine's system processes draw on the display they were started with: start them anew here,
# and end them afterwards, so that no later test finds them bound to a display that is gone.
wineserver -k 2>/dev/null

take_requested_shots() {
  for request in "$shots"/*.request; do
    [ -f "$request" ] || continue
    import -window root -crop "$(cat "$request")" +repage "${request%.request}.png" 2>/dev/null
    rm -f "$request"
  done
}
(while :; do take_requested_shots; sleep 0.1; done) &
shooter=$!

# Also when ctest ends the run at its timeout: the test runs in the background, since the shell
# acts on a signal only between commands, and wait is one it interrupts.
clean_up() {
  kill "$shooter" 2>/dev/null
  wineserver -k 2>/dev/null
  kill "$xvfb" 2>/dev/null
}
trap 'clean_up; exit 1' INT TERM

HARVESTA_GUI_SHOTS="Z:$shots" "$emulator" "$program" "$@" &
wait "$!"
status=$?
clean_up
wait 2>/dev/null
exit "$status"
