#!/usr/bin/env bash
# Proves that `make test` needs nothing but what the repository installs:
# makes a stock Debian 12 (debootstrap's minimal variant plus git and make,
# Debian's own packages and updates, no backports) in a temporary folder,
# clones the checkout's commit into it and runs `make test` there in a chroot.
# Prints the summary and the time it took; the whole output stays in the log.
# Needs root and the package mirror (FOLDERLANE_MIRROR, by default the one
# this machine's apt uses); about half an hour.
# Usage: scripts/check-fresh.sh [LOG]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
log=${1:-${TMPDIR:-/tmp}/folderlane-check-fresh.log}
suite=bookworm
[ "$(id -u)" -eq 0 ] || { echo "check-fresh: needs root (debootstrap, chroot and mounts)" >&2; exit 1; }
commit=$(git -C "$root" rev-parse HEAD)
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
    echo "check-fresh: uncommitted changes are left out: this checks $commit" >&2
fi
"$root/scripts/install-deps.sh"

# The mirror apt already uses here, for Debian itself and its security updates.
uris=$(sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/*.sources 2>/dev/null | tr ' ' '\n' || true)
mirror=${FOLDERLANE_MIRROR:-$(grep -v -e security -e backports <<<"$uris" | head -n1 || true)}
mirror=${mirror:-http://deb.debian.org/debian}
security=$(grep -e '-security' <<<"$uris" | head -n1 || true)
security=${security:-http://deb.debian.org/debian-security}

fresh=$(mktemp -d /var/tmp/folderlane-fresh.XXXXXX)
# The system's root: every user must reach it (mktemp makes it private).
chmod 755 "$fresh"
mounts=(proc sys dev dev/pts dev/shm)
mounted() { grep -q " $fresh/" /proc/mounts; }
child=""
cleanup() {
    # To the end, whatever fails (a process may be gone before it is killed).
    set +e
    # The step that was running, and whatever runs in the chroot (the tests
    # may leave something behind), would hold the mounts.
    local pid
    [ -z "$child" ] || kill -KILL "$child" 2>/dev/null
    for pid in /proc/[0-9]*; do
        [ "$(readlink "$pid/root" 2>/dev/null)" = "$fresh" ] && kill -KILL "${pid#/proc/}" 2>/dev/null
    done
    sleep 1
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        if grep -q " $fresh/${mounts[i]} " /proc/mounts; then
            umount "$fresh/${mounts[i]}" || umount --lazy "$fresh/${mounts[i]}"
        fi
    done
    # Never delete through a mount (dev is the machine's own).
    if mounted; then
        echo "check-fresh: $fresh is still mounted; left in place" >&2
    else
        rm -rf "$fresh"
    fi
}
trap cleanup EXIT
trap 'echo "check-fresh: stopped" >&2; exit 130' INT TERM
# A long step runs in the background: a signal then reaches the traps at once.
logged() {
    "$@" >>"$log" 2>&1 &
    child=$!
    wait "$child"
}

start=$(date +%s)
elapsed() { local s=$(($(date +%s) - $1)); printf '%dm%02ds' $((s / 60)) $((s % 60)); }
echo "check-fresh: Debian 12 ($suite) from $mirror in $fresh; log in $log"
: >"$log"
logged debootstrap --variant=minbase --include=git,make "$suite" "$fresh" "$mirror" ||
    { tail -n 20 "$log"; echo "check-fresh: debootstrap failed after $(elapsed "$start")" >&2; exit 1; }
cat >"$fresh/etc/apt/sources.list" <<EOF
deb $mirror $suite main
deb $mirror $suite-updates main
deb $security $suite-security main
EOF
cp -L /etc/resolv.conf "$fresh/etc/resolv.conf"
git clone --quiet "$root" "$fresh/root/folderlane"
git -C "$fresh/root/folderlane" checkout --quiet --detach "$commit"
mount -t proc proc "$fresh/proc"
# Private: a mount below them must not show through on the machine's own.
mount --bind /sys "$fresh/sys"
mount --make-private "$fresh/sys"
mount --bind /dev "$fresh/dev"
mount --make-private "$fresh/dev"
# apt logs through a terminal.
mount --bind /dev/pts "$fresh/dev/pts"
mount -t tmpfs -o mode=1777 shm "$fresh/dev/shm"
echo "check-fresh: Debian ready after $(elapsed "$start"); make test of $commit"

tests=$(date +%s)
status=0
logged chroot "$fresh" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c 'cd /root/folderlane && make test' || status=$?
grep -E '^(=== |Summary:|Failed suites:|check-reproducible: the two)' "$log" || tail -n 20 "$log"
echo "check-fresh: make test on a stock Debian 12 exited $status after $(elapsed "$tests")" \
     "($(elapsed "$start") in all)"
exit $status
