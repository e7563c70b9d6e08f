#!/usr/bin/env bash
# Installs what is missing, builds, and starts what is built so far. Today that is the helper
# library and the registry command: this shows the library and the Clipvane settings of this user.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"

echo
echo "Built:"
ls -l "$top/build/helpers/libTavreloHelpers.so" "$top/build/platform/registry/clipvane-reg"
echo
echo "Clipvane settings of this user (clipvane-reg query HKCU\\Software\\Tavrelo -s):"
"$top/build/platform/registry/clipvane-reg" query 'HKCU\Software\Tavrelo' -s ||
    echo "(none stored yet)"
