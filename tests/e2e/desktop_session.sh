#!/usr/bin/env bash
# The real application on a real X server: launch with a photo, hand a second photo over
# from a second launch, step with the keyboard, close windows with Escape, and see the
# process end with its last window. A window manager runs, so the checks of which window
# came forward after a hand-off see what a desktop would.
# usage: desktop_session.sh ORVA_BINARY SAMPLE_MAKER DESKTOP_ENTRY
set -euo pipefail
orva=$1
make_samples=$2
desktop_entry=$3

for tool in Xvfb matchbox-window-manager xmessage xdotool xprop import convert; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh installs it)"; exit 1; }
done

work=$(mktemp -d)
xvfb_pid= app_pid= wm_pid= other_pid=
cleanup() {
  kill $app_pid $other_pid $wm_pid $xvfb_pid 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A private display, settings folder and single-instance socket.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
matchbox-window-manager -use_titlebar no >"$work/wm.log" 2>&1 &
wm_pid=$!
for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.1; done
chmod 700 "$XDG_RUNTIME_DIR"
"$make_samples" "$work/photos" >/dev/null

# Blocks until a window whose title matches exists; prints its id.
window() { timeout 30 xdotool search --sync --name "$1" | head -n1; }
# Polls (bounded, 30 s) until the command after the message succeeds.
poll() {
  local message=$1; shift
  for _ in $(seq 300); do "$@" 2>/dev/null && return 0; sleep 0.1; done
  echo "$message"; return 1
}
no_window() { ! xdotool search --name "$1" >/dev/null; }
gone() { poll "window '$1' is still open" no_window "$1"; }
until_setting() { poll "the settings never held $1" grep -qx "$1" "$settings" || { cat "$settings"; return 1; }; }
is_active() { [ "$(xdotool getactivewindow)" = "$1" ]; }
until_active() {
  poll "window $1 never became the active one" is_active "$1" || {
    local active; active=$(xdotool getactivewindow 2>/dev/null || echo none)
    echo "active: $active ($(xdotool getwindowname "$active" 2>/dev/null || true))"; return 1; }
}
# Waits for the application to end, which must succeed.
ends() {
  timeout 20 tail --pid="$app_pid" -f /dev/null
  wait "$app_pid" && rc=0 || rc=$?
  app_pid=
  [ "$rc" -eq 0 ] || { echo "orva exited with $rc"; cat "$work"/orva*.log; exit 1; }
}
# Another program's window takes the focus, as when the user works elsewhere before opening
# a photo from the file manager.
work_elsewhere() {
  xmessage -title elsewhere "another program" 2>/dev/null &
  other_pid=$!
  until_active "$(window '^elsewhere$')"
}
done_elsewhere() { kill "$other_pid"; wait "$other_pid" || true; other_pid=; }
step() { echo "-- $*"; }

step "launch with a photo: its window shows it and the folder is listed"
"$orva" "$work/photos/01-landscape.jpg" >"$work/orva.log" 2>&1 &
app_pid=$!
first=$(window '^01-landscape\.jpg \[1/8\]$')

step "the window's class is the one the desktop entry names"
class=$(xprop -id "$first" WM_CLASS | sed -n 's/.*, "\(.*\)"$/\1/p')
grep -qx "StartupWMClass=$class" "$desktop_entry" || { echo "WM_CLASS class '$class'"; exit 1; }

step "a second launch hands its file over, exits, and its window is the active one"
work_elsewhere
timeout 20 "$orva" "$work/photos/04-transparent.png"
second=$(window '^04-transparent\.png \[4/8\]$')
[ "$first" != "$second" ]
until_active "$second"
done_elsewhere

step "Right steps the first window to the next photo"
xdotool windowfocus --sync "$first"
xdotool key Right
window '^02-portrait\.jpg \[2/8\]$' >/dev/null

step "Escape closes the overlay first, then the window"
settings="$XDG_CONFIG_HOME/Orva/Orva.ini"
xdotool key Tab
until_setting 'overlayMode=metadata'
xdotool key Escape
until_setting 'overlayMode=none'
xdotool search --name '^02-portrait' >/dev/null
xdotool key Escape
gone '^02-portrait'
kill -0 "$app_pid"

step "closing the last window ends the application"
xdotool windowfocus --sync "$second"
xdotool key Escape
ends

step "single-window mode: a hand-off goes to the shared window, which comes forward"
if grep -q '^\[General\]$' "$settings"; then
  sed -i '/^\[General\]$/a multiWindowMode=false' "$settings"
else
  printf '[General]\nmultiWindowMode=false\n' >>"$settings"
fi
"$orva" "$work/photos/01-landscape.jpg" >"$work/orva.log" 2>&1 &
app_pid=$!
shared=$(window '^01-landscape\.jpg \[1/8\]$')
work_elsewhere
DESKTOP_STARTUP_ID=e2e-launch-2 timeout 20 "$orva" "$work/photos/04-transparent.png"
[ "$(window '^04-transparent\.png \[4/8\]$')" = "$shared" ]
until_active "$shared"
done_elsewhere
step "the launch's startup id reached the window that came forward"
xprop -id "$shared" _NET_STARTUP_ID | grep -qF '"e2e-launch-2"'
xdotool windowfocus --sync "$shared"
xdotool key Escape
ends

# --- A folder on the command line, the metadata card, and a file that cannot be shown. The
# checks read screenshots: bright pixels over the two black test images are Orva's text.
shot() { import -window "$1" png:"$work/shot.png"; }
# Rows of the menu bar: the light rows at the top of the window's right edge, below which
# only the black content follows.
menu_rows() {
  local w
  w=$(xdotool getwindowgeometry --shell "$1" | sed -n 's/^WIDTH=//p')
  convert "$work/shot.png" -crop "1x120+$((w - 3))+0" +repage -threshold 50% \
    -format '%[fx:round(mean*h)]' info:
}
# Width x height of the box around the bright pixels in a part of the last shot.
bright_box() { convert "$work/shot.png" -crop "$1" +repage -threshold 50% -format '%@' info:; }

mkdir -p "$work/trip" "$work/empty"
convert -size 640x480 xc:black "$work/trip/00-a-dark.png"
convert -size 640x480 xc:black "$work/trip/00-b-dark.png"
cp "$work/photos/01-landscape.jpg" "$work/photos/02-portrait.jpg" "$work/trip/"
printf 'the download stopped here' >"$work/trip/99-broken.jpg"

step "a folder on the command line shows its first image in name order"
"$orva" "$work/trip" >"$work/orva2.log" 2>&1 &
app_pid=$!
trip=$(window '^00-a-dark\.png \[1/5\]$')
xdotool windowfocus --sync "$trip"

step "the metadata card shows its rows after stepping with it open"
xdotool key Tab
xdotool key Right
window '^00-b-dark\.png \[2/5\]$' >/dev/null
card_is_tall() {
  shot "$trip"
  box=$(bright_box "300x240+0+$(($(menu_rows "$trip") + 2))")
  height=${box#*x}
  [ "${height%%+*}" -ge 60 ]
}
poll "the metadata card stayed collapsed" card_is_tall
xdotool key Escape
until_setting 'overlayMode=none'

step "a file that cannot be shown has no zoom in the status bar"
pill_width() {
  shot "$trip"
  local w box
  w=$(xdotool getwindowgeometry --shell "$trip" | sed -n 's/^WIDTH=//p')
  box=$(bright_box "$((w / 2))x30+$((w / 2))+$(($(menu_rows "$trip") + 4))")
  echo "${box%%x*}"
}
xdotool key Home
window '^00-a-dark\.png \[1/5\]$' >/dev/null
shown=$(pill_width)
xdotool key End
window '^99-broken\.jpg \[5/5\]$' >/dev/null
# The failure arrives from a background decode; the bar fades 2 s after the step.
for _ in $(seq 12); do
  failed=$(pill_width)
  [ "$failed" -gt 10 ] && [ $((failed + 12)) -lt "$shown" ] && break
  sleep 0.1
done
echo "status text: ${shown}px with an image, ${failed}px for the broken file"
[ "$failed" -gt 10 ] && [ $((failed + 12)) -lt "$shown" ] ||
  { echo "the failed file's status bar still shows a zoom"; exit 1; }

step "an empty folder opens a window named after it"
timeout 20 "$orva" "$work/empty"
window '^empty$' >/dev/null

step "quitting ends the second session"
xdotool windowfocus --sync "$trip"
xdotool key ctrl+q
ends
echo "desktop session passed"
