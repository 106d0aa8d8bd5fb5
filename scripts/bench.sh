#!/usr/bin/env bash
# Runs the benchmarks (make bench): Folderlane against the baseline tray
# program under Wine on a private Xvfb, the FolderList.txt merge natively and
# under Wine, the slow-folder pruning natively. Prints one table and writes
# it to OUT/results.md.
#
#   scripts/bench.sh WIN32_TREE NATIVE_TREE OUT [run_bench.py options]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ $# -lt 3 ]; then
    echo "usage: $0 WIN32_TREE NATIVE_TREE OUT [options]" >&2
    exit 2
fi
win32=$1 native=$2 out=$3
shift 3
for tool in wine wineserver Xvfb python3; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing: run 'make deps'" >&2; exit 1; }
done
exec python3 "$here/../bench/run_bench.py" --win32 "$win32" --native "$native" --out "$out" "$@"
