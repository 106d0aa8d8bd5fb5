#!/usr/bin/env bash
# Proves that the README's two commands need nothing but what the repository
# installs: makes a stock Debian of the release given (debootstrap's minimal
# variant plus git, make and sudo; the release, its updates and its security
# updates, no backports) in a temporary folder, clones the checkout's commit
# into it and, in a chroot, as a normal user who has sudo, runs `make run`
# until the tray's screenshot is there, then `make test`. Prints the summary,
# the release and the time it took; the whole output stays in the log.
# Needs root and the package mirror (FOLDERLANE_MIRROR, by default the one
# this machine's apt uses); installs nothing here but debootstrap.
# Usage: scripts/check-fresh.sh [RELEASE [LOG]]   (RELEASE: trixie, bookworm...)
set -euo pipefail
# Read whole before it runs: a checkout that changes meanwhile cannot change it.
{
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
suite=${1:-trixie}
log=${2:-${TMPDIR:-/tmp}/folderlane-check-fresh-$suite.log}
user=tester
[ "$(id -u)" -eq 0 ] || { echo "check-fresh: needs root (debootstrap, chroot and mounts)" >&2; exit 1; }
commit=$(git -C "$root" rev-parse HEAD)
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
    echo "check-fresh: uncommitted changes are left out: this checks $commit" >&2
fi
if ! command -v debootstrap >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
fi

# The mirror apt already uses here, for Debian itself and its security updates.
uris=$(sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/*.sources 2>/dev/null | tr ' ' '\n' || true)
mirror=${FOLDERLANE_MIRROR:-$(grep -v -e security -e backports <<<"$uris" | head -n1 || true)}
mirror=${mirror:-http://deb.debian.org/debian}
security=$(grep -e '-security' <<<"$uris" | head -n1 || true)
security=${security:-http://deb.debian.org/debian-security}

# The real path: mounts and the clean-up must name the same folder (a
# symbolic link in TMPDIR would hide the mounts from the check below).
fresh=$(realpath "$(mktemp -d /var/tmp/folderlane-fresh.XXXXXX)")
# The system's root: every user must reach it (mktemp makes it private).
chmod 755 "$fresh"
# Every mount below the folder, deepest first (the tests' own as well).
mounts_below() { awk -v top="$fresh/" 'index($2, top) == 1 { print $2 }' /proc/self/mounts | sort -r; }
child=""
cleanup() {
    # To the end, whatever fails (a process may be gone before it is killed).
    set +e
    # The step that was running, and whatever runs in the chroot (the tests
    # may leave something behind), would hold the mounts.
    local pid mount
    [ -z "$child" ] || kill -KILL "$child" 2>/dev/null
    for pid in /proc/[0-9]*; do
        [ "$(readlink "$pid/root" 2>/dev/null)" = "$fresh" ] && kill -KILL "${pid#/proc/}" 2>/dev/null
    done
    sleep 1
    for mount in $(mounts_below); do
        mountpoint -q "$mount" && { umount "$mount" || umount --lazy "$mount"; }
    done
    # Never delete through a mount (dev is the machine's own); nor leave
    # the folder's file system, whatever is left there.
    if [ -n "$(mounts_below)" ]; then
        echo "check-fresh: $fresh is still mounted; left in place" >&2
    else
        rm -rf --one-file-system "$fresh"
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
echo "check-fresh: Debian $suite from $mirror in $fresh; log in $log"
: >"$log"
logged debootstrap --variant=minbase --include=git,make,sudo "$suite" "$fresh" "$mirror" ||
    { tail -n 20 "$log"; echo "check-fresh: debootstrap of $suite failed after $(elapsed "$start")" >&2; exit 1; }
release="Debian $(cut -d. -f1 "$fresh/etc/debian_version") ($suite)"
cat >"$fresh/etc/apt/sources.list" <<EOF
deb $mirror $suite main
deb $mirror $suite-updates main
deb $security $suite-security main
EOF
cp -L /etc/resolv.conf "$fresh/etc/resolv.conf"
# sudo looks its host up.
echo "127.0.1.1 $(hostname)" >>"$fresh/etc/hosts"
# A new user as the README has in mind: not root, in the sudo group (no
# password: nobody is there to type it).
chroot "$fresh" useradd --create-home --shell /bin/bash --groups sudo "$user"
echo "$user ALL=(ALL:ALL) NOPASSWD: ALL" >"$fresh/etc/sudoers.d/$user"
chmod 440 "$fresh/etc/sudoers.d/$user"
home=$fresh/home/$user
git clone --quiet "$root" "$home/folderlane"
git -C "$home/folderlane" checkout --quiet --detach "$commit"
chroot "$fresh" chown -R "$user:" "/home/$user/folderlane"
mount -t proc proc "$fresh/proc"
# Private: a mount below them must not show through on the machine's own.
mount --bind /sys "$fresh/sys"
mount --make-private "$fresh/sys"
mount --bind /dev "$fresh/dev"
mount --make-private "$fresh/dev"
# apt logs through a terminal.
mount --bind /dev/pts "$fresh/dev/pts"
mount -t tmpfs -o mode=1777 shm "$fresh/dev/shm"
echo "check-fresh: $release ready after $(elapsed "$start"); make run, then make test of $commit as $user"

as_user() {
    logged chroot --userspec="$user:$user" "$fresh" /usr/bin/env -i HOME="/home/$user" USER="$user" \
        LOGNAME="$user" LANG=C.UTF-8 TERM=dumb PATH=/usr/local/bin:/usr/bin:/bin \
        bash -c "cd ~/folderlane && $1"
}
# `make run` as in a terminal (a job of its own), ended as Ctrl-C ends it
# once the screenshot of the tray has been taken.
runs=$(date +%s)
run_status=0
as_user 'set -m
    make run & run=$!
    while kill -0 $run 2>/dev/null && [ ! -s build/win32/tray.png ]; do sleep 2; done
    sleep 2
    kill -INT -- -$run
    wait $run
    test -s build/win32/tray.png' || run_status=$?
screenshot=${log%.log}-tray.png
cp "$home/folderlane/build/win32/tray.png" "$screenshot" 2>/dev/null || screenshot="none"
[ "$screenshot" != none ] || run_status=1

tests=$(date +%s)
status=0
as_user 'make test' || status=$?
grep -E '^(=== |Summary:|Failed suites:|check-reproducible: the two)' "$log" || tail -n 20 "$log"
echo "check-fresh: $release: make run exited $run_status, its screenshot of the tray: $screenshot"
echo "check-fresh: $release: make test exited $status after $(elapsed "$tests")"
[ "$run_status" -eq 0 ] || status=1
echo "check-fresh: $release as $user (sudo): exited $status after $(elapsed "$start") in all"
exit $status
}
