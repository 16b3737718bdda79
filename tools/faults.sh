#!/usr/bin/env bash
# The fault run (see tools/faults.py): builds the programs it runs, then runs
# every fault against a private MariaDB under BUILD/faults.
#
#   tools/faults.sh [--only renamed,locked,...] [--program window] [--modems N]
#
# BUILD is $VLSMS_BUILD_DIR or build/. Takes about ten minutes; root is needed
# for the full-disk fault (a tmpfs on the data directory).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VLSMS_BUILD_DIR:-$root/build}

case " $* " in
*" -h "* | *" --help "*) exec python3 "$root/tools/faults.py" --build "$build" "$@" ;;
esac
if [ ! -d "$build" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target vlsmsd vlsms vlsms-modemsim >/dev/null
exec python3 "$root/tools/faults.py" --build "$build" "$@"
