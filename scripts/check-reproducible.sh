#!/usr/bin/env bash
# Checks that the unsigned release can be repeated byte for byte: clones the
# checkout's commit twice, into folders and build folders of other names,
# builds the programs and `make dist`'s files in each, one after the other,
# and compares the two dist folders. The second build differs in what another
# machine may: the locale, the time zone, the umask and (run as root) the
# user. Uncommitted changes take no part.
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

other_locale=C.UTF-8
locale -a 2>/dev/null | grep -qix 'ja_JP.utf8' && other_locale=ja_JP.UTF-8
other_user=()
if [ "$(id -u)" -eq 0 ]; then
    other_user=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups)
    chmod 755 "$work"
else
    echo "check-reproducible: not root, so both builds run as $(id -un)"
fi

# Usage: build TREE BUILD_DIR UMASK USER... -- VARIABLE=VALUE...
dists=()
build() {
    local tree=$1 build=$2 mask=$3 user=()
    shift 3
    while [ "$1" != -- ]; do user+=("$1"); shift; done
    shift
    git clone --quiet "$root" "$tree"
    git -C "$tree" checkout --quiet --detach "$commit"
    [ ${#user[@]} -eq 0 ] || chown -R nobody: "$tree"
    echo "check-reproducible: building $commit in $tree ($(date -u +%T); $* umask $mask${user:+, as nobody})"
    (umask "$mask" && "${user[@]}" env "$@" HOME="$tree" bash -c '
        cmake -S "$1" -B "$2" -DCMAKE_TOOLCHAIN_FILE="$1/cmake/i686-w64-mingw32.cmake" >/dev/null &&
        cmake --build "$2" -j"$3" --target Folderlane folderlane-send folderlane-open >/dev/null &&
        "$1/scripts/make-dist.sh" "$2" "$1/dist" >/dev/null' build "$tree" "$build" "$jobs")
    dists+=("$tree/dist")
}
build "$work/one" "$work/one/build/win32" 022 -- LC_ALL=C.UTF-8 TZ=UTC0
build "$work/second-clone" "$work/second-clone/out/release" 077 "${other_user[@]}" -- \
    LC_ALL="$other_locale" TZ=NZCHAT-12:45

paste -d '\n' "${dists[0]}/SHA256SUMS" "${dists[1]}/SHA256SUMS"
if diff -r "${dists[0]}" "${dists[1]}" >/dev/null; then
    echo "check-reproducible: the two builds of $commit are byte-identical"
else
    diff -rq "${dists[0]}" "${dists[1]}" || true
    echo "check-reproducible: the two builds of $commit differ" >&2
    exit 1
fi
