#!/usr/bin/env bash
# Checks that the unsigned release can be repeated byte for byte: clones the
# checkout's commit twice, into folders and build folders of other names,
# builds the programs and `make dist`'s files in each, one after the other,
# and compares the two dist folders. Uncommitted changes take no part.
# Usage: scripts/check-reproducible.sh [JOBS]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${1:-2}
if ! commit=$(git -C "$root" rev-parse HEAD 2>/dev/null); then
    echo "check-reproducible: skipped: $root is not a git checkout, and only a commit can be built twice"
    exit 0
fi
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
    echo "check-reproducible: uncommitted changes are left out: this checks $commit" >&2
fi
work=$(mktemp -d /tmp/folderlane-reproduce.XXXXXX)
trap 'rm -rf "$work"' EXIT
# Whatever this shell has set must not make the two alike, nor sign them.
unset SOURCE_DATE_EPOCH FOLDERLANE_SIGN_PFX FOLDERLANE_SIGN_PKCS11_MODULE FOLDERLANE_SIGN_PASSWORD

dists=()
for tree in "$work/one" "$work/second-clone"; do
    build=$tree/build/win32
    [ "$tree" = "$work/one" ] || build=$tree/out/release
    git clone --quiet "$root" "$tree"
    git -C "$tree" checkout --quiet --detach "$commit"
    echo "check-reproducible: building $commit in $tree ($(date -u +%T))"
    cmake -S "$tree" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$tree/cmake/i686-w64-mingw32.cmake" >/dev/null
    cmake --build "$build" -j"$jobs" --target Folderlane folderlane-send folderlane-open >/dev/null
    "$tree/scripts/make-dist.sh" "$build" "$tree/dist" >/dev/null
    dists+=("$tree/dist")
done

paste -d '\n' "${dists[0]}/SHA256SUMS" "${dists[1]}/SHA256SUMS"
if diff -r "${dists[0]}" "${dists[1]}" >/dev/null; then
    echo "check-reproducible: the two builds of $commit are byte-identical"
else
    diff -rq "${dists[0]}" "${dists[1]}" || true
    echo "check-reproducible: the two builds of $commit differ" >&2
    exit 1
fi
