#!/bin/sh
# Runs a test command as the unprivileged user "nobody" when started as root,
# so that checks depending on file permissions are not waved through by
# root's rights. Started as anyone else, runs the command as that user.
# The user gets a scratch folder of its own for temporary files and home.
set -eu

if [ "$(id -u)" -ne 0 ]; then
    exec "$@"
fi

uid=$(id -u nobody 2>/dev/null) || { echo "no user 'nobody' to run as"; exit 77; }
gid=$(id -g nobody)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chown "$uid:$gid" "$scratch"

TMPDIR=$scratch HOME=$scratch XDG_RUNTIME_DIR=$scratch \
    setpriv --reuid="$uid" --regid="$gid" --clear-groups -- "$@"
