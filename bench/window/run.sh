#!/usr/bin/env bash
# The window's responsiveness under a frozen MySQL server and a locked store
# (see pingwindow.py). Installs Xvfb and python3-xlib when missing, builds the
# programs it runs into $VLSMS_BUILD_DIR (default build/) and runs it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${VLSMS_BUILD_DIR:-$root/build}

if ! command -v Xvfb >/dev/null || ! /usr/bin/python3 -c 'import Xlib' 2>/dev/null; then
    sudo=()
    [ "$(id -u)" = 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get install -y --no-install-recommends xvfb python3-xlib
fi
case " $* " in
*" -h "* | *" --help "*) exec /usr/bin/python3 "$root/bench/window/pingwindow.py" --build "$build" "$@" ;;
esac
if [ ! -d "$build" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target vlsms vlsms-modemsim >/dev/null
# Debian's interpreter: python3-xlib is installed for it.
exec /usr/bin/python3 "$root/bench/window/pingwindow.py" --build "$build" "$@"
