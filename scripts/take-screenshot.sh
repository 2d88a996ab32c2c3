#!/usr/bin/env bash
# Takes a picture of the plug-in's window as the Standalone application shows it on
# an X display (a virtual one when none is set), cropped to the window's 900 x 567
# face. The display's own pixels are read, so what OpenGL rendered is what is saved.
#
#   scripts/take-screenshot.sh [-s state] [-a app] [output.png]
#
# state: default (as the window opens), bypass (BYPASS clicked), info (the maker's
# lettering clicked: the about panel), presets (PRESETS clicked: the menu open).
# app:   the Standalone program; by default the one in build/.
# output: by default docs/window.png, the README's picture.
#
# Needs xdotool, imagemagick (import, convert) and x11-utils (xwininfo); xvfb-run
# when no display is set.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
state=default
app="$root/build/processor/Tessaline_artefacts/Release/Standalone/Tessaline"

while getopts "s:a:" option; do
    case "$option" in
        s) state="$OPTARG" ;;
        a) app="$OPTARG" ;;
        *) echo "usage: $0 [-s default|bypass|info|presets] [-a app] [output.png]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
output="${1:-$root/docs/window.png}"

case "$state" in
    default|bypass|info|presets) ;;
    *) echo "unknown state: $state" >&2; exit 2 ;;
esac

for tool in xdotool import convert xwininfo; do
    command -v "$tool" > /dev/null || { echo "$tool is missing (packages xdotool, imagemagick, x11-utils)" >&2; exit 3; }
done
[ -x "$app" ] || { echo "no Standalone program at $app (build first)" >&2; exit 3; }

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" -s "$state" -a "$app" "$output"
fi

# A scratch home: the application keeps its audio settings there, and a user's own
# settings must not change the picture.
home="$(mktemp -d)"
HOME="$home" "$app" > "$home/app.log" 2>&1 &
pid=$!
cleanup() { kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$home"; }
trap cleanup EXIT

window=""
for _ in $(seq 1 60); do
    window="$(xdotool search --onlyvisible --name '^Tessaline$' 2>/dev/null | head -n 1 || true)"
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || { echo "the application exited:" >&2; cat "$home/app.log" >&2; exit 1; }
    sleep 0.5
done
[ -n "$window" ] || { echo "no Tessaline window within 30 seconds" >&2; exit 1; }

# The face sits at the bottom of the window, inside a one-pixel border, under the
# application's title bar and any notice it shows.
geometry="$(xwininfo -id "$window")"
wx=$(sed -n 's/.*Absolute upper-left X: *//p' <<< "$geometry")
wy=$(sed -n 's/.*Absolute upper-left Y: *//p' <<< "$geometry")
wh=$(sed -n 's/.*Height: *//p' <<< "$geometry")
ex=$((wx + 1))
ey=$((wy + wh - 1 - 567))

# Clicks at the centres of the controls, in the face's coordinates.
click() {
    xdotool mousemove --sync $((ex + $1)) $((ey + $2)) click 1
    sleep 1
}

# The pointer rests off the window so that no control shows its hover look.
xdotool mousemove --sync 0 0
sleep 2
case "$state" in
    bypass) click 773 57 ;;
    info) click 779 541 ;;
    presets) click 138 57 ;;
esac

# Let the renderer catch up with the last click before reading the display.
sleep 1
mkdir -p "$(dirname "$output")"
import -window root -crop "900x567+$ex+$ey" +repage "$output"
echo "$output"
