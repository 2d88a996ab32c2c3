#!/usr/bin/env bash
# The Standalone application as a user starts it: on an X display (a virtual one
# when none is set) it must open its "Tessaline" window within 20 seconds and keep
# running, with no audio hardware present.
set -euo pipefail

app="$1"

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi

home="$(mktemp -d)"
# The app keeps its settings in the user's home; a scratch one keeps runs independent.
HOME="$home" "$app" > "$home/app.log" 2>&1 &
pid=$!
cleanup() { kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$home"; }
trap cleanup EXIT

for _ in $(seq 1 40); do
    if xwininfo -root -tree | grep -q '"Tessaline"'; then
        sleep 3
        if kill -0 "$pid" 2>/dev/null; then
            echo "Standalone window is open and the app is running."
            exit 0
        fi
        echo "The app exited after opening its window." >&2
        cat "$home/app.log" >&2
        exit 1
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "The app exited before opening a window." >&2
        cat "$home/app.log" >&2
        exit 1
    fi
    sleep 0.5
done

echo "No Tessaline window appeared within 20 seconds." >&2
exit 1
