#!/usr/bin/env bash
# Runs the end-to-end tests against an existing win32 build (builds nothing).
# Usage: scripts/e2e.sh [BUILD_DIR] [-k PATTERN]...   (default build/win32)
# Writes BUILD_DIR/results/e2e.xml and ends with "N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build/win32
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
    build=$1
    shift
fi
[ -d "$build" ] || { echo "e2e: no build folder '$build'" >&2; exit 2; }
build=$(cd "$build" && pwd)

# On the time limit the harness gets SIGTERM: it records the stop as a
# failure, tears its Wine world down and still prints the summary.
exec timeout --signal=TERM --kill-after=30 "${E2E_TIMEOUT:-1500}" \
    python3 "$root/tests/e2e/harness.py" --build "$build" --xml "$build/results/e2e.xml" "$@"
