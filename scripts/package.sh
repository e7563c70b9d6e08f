#!/usr/bin/env bash
# Installs what is missing, builds, and writes the Debian package build/clipvane_<version>_<arch>.deb
# (docs/package.md). Install it with: sudo apt install ./build/clipvane_*.deb
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
rm -f "$top"/build/clipvane_*.deb
(cd "$top/build" && cpack -G DEB)
ls "$top"/build/clipvane_*.deb
