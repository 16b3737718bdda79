#!/usr/bin/env bash
# Builds vlsms and runs the whole test suite on a Debian 12 machine:
# installs missing packages, builds with warnings as errors, proves the
# widget-free code builds without Qt Widgets, starts a private MariaDB on a
# loopback port of its own, runs every test under CTest and fuzzes the PDU
# decoder for a minute. Exits non-zero when anything fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VLSMS_BUILD_DIR:-$root/build}
cd "$root"

bash tools/deps.sh test

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVLSMS_WERROR=ON >/dev/null
cmake --build "$build" -j2

# The widget-free library and the tools must build without Qt Widgets.
cmake -S "$root" -B "$build/headless" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVLSMS_WERROR=ON \
      -DVLSMS_GUI=OFF -DVLSMS_BENCH=OFF >/dev/null
cmake --build "$build/headless" -j2 --target vlsmslib vlsms-pdu vlsms-modemsim

dbdir="$build/mariadb"
bash tools/mariadb.sh test-start "$dbdir"
trap 'bash "$root/tools/mariadb.sh" stop "$dbdir" || true' EXIT
# shellcheck disable=SC1091
source "$dbdir/env.sh"

status=0
(cd "$build" && ctest -j2 --output-on-failure --timeout 600) || status=1

bash tools/pdu/fuzz.sh 60 "$build/fuzz" || status=1

exit $status
