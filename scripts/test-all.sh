#!/usr/bin/env bash
# Runs every suite (native unit tests under the sanitizers, the same tests as
# Windows programs under Wine, the end-to-end tests) and ends with one
# summary line.
set -uo pipefail
native=${1:-build/native}
win32=${2:-build/win32}
memcheck=${3:-build/memcheck}
here=$(cd "$(dirname "$0")" && pwd)

rm -rf "$native/results" "$win32/results" "$memcheck/results"
mkdir -p "$native/results" "$win32/results" "$memcheck/results"
failed_suites=()

run_suite() {
    local name=$1; shift
    echo "=== $name"
    if ! "$@"; then failed_suites+=("$name"); fi
}

run_suite "unit tests (native, ASan/UBSan)" ctest --test-dir "$native" --output-on-failure
run_suite "unit tests (native, valgrind memcheck)" "$here/memcheck.sh" "$memcheck"
run_suite "unit tests (Windows, under Wine)" ctest --test-dir "$win32" --output-on-failure
run_suite "end-to-end tests (under Wine)" "$here/e2e.sh" "$win32"
# Cheap (two builds of the committed tree, about a minute): a time stamp or a
# build path slipping into a program shows here, not at release.
run_suite "release built twice alike" "$here/check-reproducible.sh"

python3 "$here/summarize-results.py" "$native/results" "$memcheck/results" "$win32/results"
summary=$?
if [ ${#failed_suites[@]} -gt 0 ]; then
    echo "Failed suites: ${failed_suites[*]}"
    exit 1
fi
exit $summary
