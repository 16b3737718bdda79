#!/usr/bin/env bash
# Checks the Debian package of vlsms as an operator meets it, without
# installing it: unpacks it into a temporary directory, checks what it holds,
# runs the unpacked vlsmsd and vlsms-pdu, verifies the systemd unit and runs
# lintian, which must report no error.
#   usage: debcheck.sh PACKAGE.deb
set -euo pipefail
deb=$(realpath "${1:?usage: debcheck.sh PACKAGE.deb}")
tmp=$(mktemp -d)
daemon=
cleanup() {
    if [ -n "$daemon" ]; then kill -KILL "$daemon" 2>/dev/null || true; fi
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "debcheck: $*" >&2
    exit 1
}

root="$tmp/root"
dpkg-deb -x "$deb" "$root"
bin="$root/usr/bin"

# The three programs and nothing else from the build.
programs=$(ls "$bin" | tr '\n' ' ')
[ "$programs" = "vlsms vlsms-pdu vlsmsd " ] || fail "usr/bin holds: $programs"
unit=usr/lib/systemd/system/vlsmsd.service
for file in $unit usr/lib/sysusers.d/vlsms.conf usr/lib/tmpfiles.d/vlsms.conf \
            usr/share/applications/vlsms.desktop usr/share/icons/hicolor/scalable/apps/vlsms.svg \
            usr/share/icons/hicolor/48x48/apps/vlsms.png usr/share/icons/hicolor/256x256/apps/vlsms.png \
            usr/share/man/man1/vlsms.1.gz usr/share/man/man1/vlsms-pdu.1.gz usr/share/man/man8/vlsmsd.8.gz \
            usr/share/doc/vlsms/README.md usr/share/doc/vlsms/copyright; do
    [ -f "$root/$file" ] || fail "the package lacks /$file"
done

# The MySQL link is the MariaDB client library itself, not a Qt driver plugin.
depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in
*sql*-mysql*) fail "the package still depends on a Qt MySQL driver: $depends" ;;
*libmariadb3*) ;;
*) fail "the package does not depend on libmariadb3: $depends" ;;
esac

version=$(dpkg-deb -f "$deb" Version)
said=$("$bin/vlsmsd" --version)
[ "$said" = "vlsmsd $version" ] || fail "vlsmsd --version says '$said', the package is $version"

# A UCS-2 message from an international sender.
line=$("$bin/vlsms-pdu" 06918967052143040B819178561032F4000891503241035023044F60597D)
case "$line" in
*'"sms_sender":"19876501234"'*'"text":"你好"'*) ;;
*) fail "vlsms-pdu printed: $line" ;;
esac

# The unit as packaged, but pointing at the unpacked program; man finds the
# unpacked page its Documentation= names.
sed "s|^ExecStart=/usr/bin/|ExecStart=$bin/|" "$root/$unit" >"$tmp/vlsmsd.service"
MANPATH="$root/usr/share/man" systemd-analyze verify "$tmp/vlsmsd.service" ||
    fail "systemd-analyze verify rejects $unit"

# The unit gives vlsmsd 15 s to stop; it must stop cleanly well within that.
# It serves no port of this machine and finds no MySQL server.
data="$tmp/data"
mkdir -m 700 "$data"
ports=$(for dev in /sys/class/tty/*/device; do [ -e "$dev" ] && basename "$(dirname "$dev")"; done | paste -sd, -)
printf '[General]\nDEF_IGNORE=%s\nMYSQL_HOST=127.0.0.1\nMYSQL_PORT=1\n' "$ports" >"$data/settings.ini"
(cd "$data" && exec "$bin/vlsmsd" --data-dir "$data" 2>"$tmp/vlsmsd.err") &
daemon=$!
for _ in $(seq 100); do
    "$bin/vlsmsd" --data-dir "$data" --status >/dev/null 2>&1 && break
    sleep 0.1
done
"$bin/vlsmsd" --data-dir "$data" --status >/dev/null || fail "vlsmsd wrote no status in 10 s: $(cat "$tmp/vlsmsd.err")"
kill -TERM "$daemon"
for _ in $(seq 100); do
    kill -0 "$daemon" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$daemon" 2>/dev/null && fail "vlsmsd still runs 10 s after SIGTERM"
code=0
wait "$daemon" || code=$?
daemon=
[ "$code" -eq 0 ] || fail "vlsmsd ended with status $code on SIGTERM"

lintian --fail-on error "$deb" || fail "lintian reports errors"
echo "debcheck: $(basename "$deb") is sound"
