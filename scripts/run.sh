#!/usr/bin/env bash
# Installs what is missing, builds, registers the helper library (into $TAVRELO_REGISTRY_DIR when
# that is set, else into this user's registry; registering also makes htahost the program for
# HTML Applications) and starts Clipvane with the given arguments. Without a display it runs
# under Xvfb and saves a screenshot of the viewer's window.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"

# Qt's programs want a private runtime folder; a session without one (a container, ssh, su) gets
# the one Qt would fall back to itself, made here with the rights Qt demands, so that every
# program of ours agrees on it without warning about it.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR="${TMPDIR:-/tmp}/runtime-$(id -un)"
    mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
    chmod 0700 "$XDG_RUNTIME_DIR"
    if [ ! -O "$XDG_RUNTIME_DIR" ]; then
        echo "$XDG_RUNTIME_DIR belongs to another user; set XDG_RUNTIME_DIR to a folder of your own." >&2
        exit 1
    fi
    export XDG_RUNTIME_DIR
fi

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
# and then closes. The X server stays until the picture is there (a minute at most) and the
# programs of this run have ended, so that none loses its display while it closes. Those
# programs carry this run's mark in their environment (the launcher passes its environment on).
# The X11 platform is named so that a session that calls itself Wayland does not send Qt to the
# desktop's compositor.
TAVRELO_SCREENSHOT="$screenshot" QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    mark=$1
    shift
    ours() { grep -lqszx "CLIPVANE_RUN_MARK=$mark" /proc/[0-9]*/environ 2>/dev/null; }
    CLIPVANE_RUN_MARK=$mark "$@"
    for _ in $(seq 600); do
        [ -s "$TAVRELO_SCREENSHOT" ] && break
        sleep 0.1
    done
    [ -s "$TAVRELO_SCREENSHOT" ] || { echo "The viewer did not show its window." >&2; exit 1; }
    for _ in $(seq 100); do
        ours || exit 0
        sleep 0.1
    done
    echo "The viewer did not close after its screenshot." >&2
    exit 1' run "clipvane-run-$$" "$launcher" "$@"
ls -l "$screenshot"
