#!/usr/bin/env bash
# Installs what is missing, builds, registers the helper library (into $TAVRELO_REGISTRY_DIR when
# that is set, else into this user's registry; registering also makes htahost the program for
# HTML Applications) and starts Clipvane with the given arguments. Without a display it runs
# under Xvfb and saves a screenshot of the viewer's window.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"

build="$top/build"
"$build/helpers/clipvane-regsvr" "$build/helpers/libTavreloHelpers.so"
launcher="$build/launcher/Clipvane"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$launcher" "$@"
fi
screenshot="$build/screenshot.png"
rm -f "$screenshot"
echo "No display: running under Xvfb; the viewer's window is saved to $screenshot"
# The viewer runs on after the launcher ends; it saves the screenshot once its page has loaded
# and then closes. The X server stays until the picture is there (a minute at most).
TAVRELO_SCREENSHOT="$screenshot" xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    "$@"
    for _ in $(seq 600); do
        [ -s "$TAVRELO_SCREENSHOT" ] && exit 0
        sleep 0.1
    done
    echo "The viewer did not show its window." >&2
    exit 1' run "$launcher" "$@"
ls -l "$screenshot"
