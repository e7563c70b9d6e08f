#!/usr/bin/env bash
# Installs what is missing, builds, registers the helper library (into $TAVRELO_REGISTRY_DIR when
# that is set, else into this user's registry) and starts the HTML Application host on the
# library's host-check page. Without a display it runs under Xvfb and saves a screenshot.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"

build="$top/build"
library="$build/helpers/libTavreloHelpers.so"
"$build/helpers/clipvane-regsvr" "$library"
address="res://$library/HostCheck.hta"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$build/platform/htahost/htahost" "$address"
fi
screenshot="$build/screenshot.png"
echo "No display: running under Xvfb; the window is saved to $screenshot"
xvfb-run -a -s "-screen 0 1280x800x24" \
    "$build/platform/htahost/htahost" --screenshot "$screenshot" "$address"
ls -l "$screenshot"
