#!/bin/sh
# Runs a test program on X11 (a private Xvfb display) with a session bus and
# an accessibility bus of its own: Qt's accessibility bridge is then active,
# so the events a screen reader would receive can be checked.
# Usage: with-a11y-bus.sh <at-spi-bus-launcher> <program> [argument ...]
set -eu
if [ -z "${QV_A11Y_INNER:-}" ]; then
    QV_A11Y_INNER=1 exec timeout 110 dbus-run-session -- "$0" "$@"
fi
launcher=$1
shift
"$launcher" &
bus=$!
trap 'kill $bus 2>/dev/null || true' EXIT
tries=0
until dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null | grep -q true; do
    tries=$((tries + 1))
    if [ "$tries" -gt 50 ]; then
        echo "the accessibility bus did not start" >&2
        exit 1
    fi
    sleep 0.1
done
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 xvfb-run -a "$@"
