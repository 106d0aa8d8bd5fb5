#!/usr/bin/env bash
# Runs the end-to-end tests against an existing win32 build (builds nothing).
# Usage: scripts/e2e.sh [BUILD_DIR] [-k PATTERN]...   (default build/win32)
# Writes BUILD_DIR/results/e2e.xml and ends with "N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=build/win32
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
    build=$1
    shift
fi
build=$(cd "$build" 2>/dev/null && pwd) || { echo "e2e: no build folder '$build'" >&2; exit 2; }

# The harness stops on SIGTERM and still tears its Wine world down.
timeout --signal=TERM --kill-after=30 "${E2E_TIMEOUT:-290}" \
    python3 "$root/tests/e2e/harness.py" --build "$build" --xml "$build/results/e2e.xml" "$@"
status=$?
if [ $status -eq 124 ] || [ $status -eq 137 ]; then
    echo "e2e: stopped after ${E2E_TIMEOUT:-290} s" >&2
fi
exit $status
