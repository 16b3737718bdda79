#!/usr/bin/env bash
# The many-hosts fault run (see tools/hostfaults.py): builds the programs it
# runs, then runs every case against a three-node Galera cluster on loopback
# (tools/galera.sh) under BUILD/hostfaults.
#
#   tools/hostfaults.sh [--only baseline,killed,frozen,kills,longport] [--keep-cluster]
#
# BUILD is $VLSMS_BUILD_DIR or build/. Takes about ten minutes.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VLSMS_BUILD_DIR:-$root/build}

case " $* " in
*" -h "* | *" --help "*) exec python3 "$root/tools/hostfaults.py" --build "$build" "$@" ;;
esac
if [ ! -d "$build" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target vlsmsd vlsms-modemsim >/dev/null
exec python3 "$root/tools/hostfaults.py" --build "$build" "$@"
