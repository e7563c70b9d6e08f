#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the Debian package's (installed, tried
# and purged again; skipped without root or passwordless sudo), then ctest's.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
# The package first: it is installed only for the minute it takes, before the rest runs.
package=0
"$top/scripts/package-test.sh" || package=$?
ctest --test-dir "$top/build" --output-on-failure --parallel 2
exit "$package"
