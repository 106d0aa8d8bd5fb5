# Sourced by sign.sh and make-dist.sh. Moves FOLDERLANE_SIGN_PASSWORD (the
# token's PIN or the PKCS#12 file's password) out of the environment, where
# every child would get it, into an anonymous file: made in memory where
# /dev/shm is, its name removed before the password is written, left open
# on descriptor 9 for the signing steps (FOLDERLANE_SIGN_PASSWORD_FD), which
# read it through /dev/fd/9. Nothing stays on disk however the script ends,
# and no process list shows it. An empty or unset one: no file.
if [ -n "${FOLDERLANE_SIGN_PASSWORD:-}" ]; then
    sign_password_dir=/dev/shm
    [ -d "$sign_password_dir" ] && [ -w "$sign_password_dir" ] || sign_password_dir=${TMPDIR:-/tmp}
    sign_password_file=$(mktemp "$sign_password_dir/sign.XXXXXX")
    exec 9<>"$sign_password_file"
    rm -f "$sign_password_file"
    printf '%s' "$FOLDERLANE_SIGN_PASSWORD" >&9
    export FOLDERLANE_SIGN_PASSWORD_FD=9
    unset sign_password_dir sign_password_file
fi
unset FOLDERLANE_SIGN_PASSWORD
