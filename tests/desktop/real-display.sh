#!/usr/bin/env bash
# Runs the real program on an X display of its own (Xvfb) under a small
# window manager (openbox), as a user meets it, and checks what offscreen
# tests cannot see: the sheet of an archive opened from the command line at
# a cold start lies over the main window, Enter extracts the files, and an
# archive opened while a job runs is presented after that job.
# Usage: real-display.sh ZAVRIN_BINARY
set -euo pipefail
app=$1

for tool in Xvfb openbox xdotool xwininfo zip; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  # What the display held, for a failure seen only on a busy machine.
  echo "  openbox: $(pgrep -a openbox | tr '\n' ' ') $(cat "$work/openbox.log" 2>/dev/null)" >&2
  xwininfo -root -tree 2>&1 | grep -E '"(Zavrin|Extract|Compress)' | sed 's/^ */  window: /' >&2
  [ -f "$work/app.log" ] && sed 's/^/  app: /' "$work/app.log" >&2
  exit 1
}

# waits up to $1 seconds for the command after it to succeed
wait_for() {
  local seconds=$1; shift
  local end=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.2
  done
}

# A display of our own; Xvfb writes its number when it is ready.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
wait_for 10 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"

# A home of its own, no session bus: no file manager, no notification service.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export XDG_CACHE_HOME=$work/home/.cache XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_CONFIG_HOME" "$work/out" "$work/src" "$work/more"
mkdir -m 700 "$XDG_RUNTIME_DIR"
echo "XDG_DESKTOP_DIR=\"$work/out\"" >"$XDG_CONFIG_HOME/user-dirs.dirs"
export QT_QPA_PLATFORM=xcb LANGUAGE=en LC_ALL=C.UTF-8
unset DBUS_SESSION_BUS_ADDRESS ZAVRIN_ENDPOINT_BASE QT_SCALE_FACTOR

openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
# openbox names its version once it has taken the screen and loaded its
# theme, late in its start; a window mapped before that may never be managed.
wait_for 20 sh -c "xprop -root _OB_VERSION | grep -q '='" \
  || fail "openbox did not start: $(cat "$work/openbox.log")"
sleep 0.3

# Archives made by the zip program.
echo alpha >"$work/src/a.txt"
(cd "$work/src" && zip -q "$work/first.zip" a.txt)
echo locked >"$work/src/c.txt"
(cd "$work/src" && zip -q -P secret "$work/locked.zip" c.txt)
echo delta >"$work/src/d.txt"
(cd "$work/src" && zip -q "$work/second.zip" d.txt)

# Client-area geometry: "x y width height".
geometry() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
                           /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}'
}
visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1; }
main_window() {
  for id in $(xdotool search --onlyvisible --name '^Zavrin$' 2>/dev/null); do
    [ "$(xwininfo -id "$id" | awk '/Width:/ {print $2}')" -ge 600 ] && { echo "$id"; return 0; }
  done
  return 1
}
# The sheet lies over the main window: inside it, centred across it.
check_over_main() {
  local sheet=$1 main=
  # Windows come and go around a sheet; look again for a while.
  for _ in $(seq 50); do main=$(main_window) && break; sleep 0.2; done
  [ -n "$main" ] || fail "no main window"
  read -r mx my mw mh <<<"$(geometry "$main")"
  read -r sx sy sw sh <<<"$(geometry "$sheet")"
  echo "main window $mx,$my ${mw}x$mh; sheet $sx,$sy ${sw}x$sh"
  [ "$sx" -ge "$mx" ] && [ "$sy" -ge "$my" ] && [ $((sx + sw)) -le $((mx + mw)) ] \
    && [ $((sy + sh)) -le $((my + mh)) ] || fail "the sheet is not over the main window"
  local off=$(((sx + sw / 2) - (mx + mw / 2)))
  [ "${off#-}" -le 24 ] || fail "the sheet is not centred across the main window ($off px off)"
}
press() { # activates window $1, then presses the keys after it
  local id=$1; shift
  xdotool windowactivate --sync "$id" >/dev/null 2>&1 || xdotool windowfocus --sync "$id"
  xdotool key --clearmodifiers "$@"
}

# 1. A cold start with an archive, as the file manager does it.
"$app" "$work/first.zip" >"$work/app.log" 2>&1 &
pids+=($!)
wait_for 30 visible '^Extract Files' || fail "no extraction sheet after a cold start"
sleep 0.5 # let the window manager settle its frames
sheet=$(visible '^Extract Files')
check_over_main "$sheet"
press "$sheet" Return
wait_for 30 test -f "$work/out/a.txt" || fail "Enter did not extract first.zip"
[ "$(cat "$work/out/a.txt")" = alpha ] || fail "a.txt holds the wrong text"
wait_for 30 sh -c "! xdotool search --onlyvisible --name '^Extract' >/dev/null 2>&1" \
  || fail "the progress sheet did not close"

# 2. An archive opened while a job runs (it waits at its password sheet)
#    is presented after that job, not dropped.
"$app" "$work/locked.zip" || fail "the second launch did not hand over"
wait_for 30 visible '^Extract Files' || fail "no extraction sheet for locked.zip"
press "$(visible '^Extract Files')" Return
password_sheet() { # a dialog of ours titled after the program (toasts are tool tips)
  for id in $(xdotool search --onlyvisible --name '^Zavrin' 2>/dev/null); do
    xprop -id "$id" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q _NET_WM_WINDOW_TYPE_DIALOG && { echo "$id"; return 0; }
  done
  return 1
}
wait_for 30 password_sheet || fail "no password sheet for locked.zip"
"$app" "$work/second.zip" || fail "the third launch did not hand over"
sleep 1.5
[ -z "$(visible '^Extract Files')" ] || fail "second.zip was presented while a job ran"
sheet=$(password_sheet)
xdotool windowactivate --sync "$sheet" >/dev/null 2>&1 || true
xdotool type --delay 20 secret
xdotool key --clearmodifiers Return
wait_for 30 test -f "$work/out/c.txt" || fail "locked.zip was not extracted"
wait_for 30 visible '^Extract Files' || fail "second.zip was never presented"
sleep 0.5
sheet=$(visible '^Extract Files')
check_over_main "$sheet"
press "$sheet" Return
wait_for 30 test -f "$work/out/d.txt" || fail "second.zip was not extracted"
echo "real display: sheets placed over the window, jobs done in order"
