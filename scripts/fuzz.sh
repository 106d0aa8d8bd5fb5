#!/usr/bin/env bash
# Runs each libFuzzer target for a bounded time (FUZZ_SECONDS, default 60).
# New coverage goes to build/fuzz/corpus; crashes land in fuzz/crashes/TARGET,
# where `make test` replays them as regression cases once committed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
cmake -S . -B build/fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DFOLDERLANE_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz -j2 --target fuzz_list_file fuzz_list_ops fuzz_intake >/dev/null

status=0
for target in list_file list_ops intake; do
    mkdir -p "build/fuzz/corpus/$target" "fuzz/crashes/$target"
    log="build/fuzz/$target.log"
    if ! "build/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="fuzz/crashes/$target/" "build/fuzz/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
        status=1
        echo "$target: FOUND A FAILURE (input in fuzz/crashes/$target/, log in $log)"
    fi
    runs=$(grep -o 'Done [0-9]* runs' "$log" | tail -1 || true)
    cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 || true)
    echo "$target: ${runs:-no runs}; ${cov:-no coverage line}"
    rmdir "fuzz/crashes/$target" 2>/dev/null || true
done
exit $status
