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

# The service, the road below the window and the tools must build without Qt Widgets.
cmake -S "$root" -B "$build/headless" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVLSMS_WERROR=ON \
      -DVLSMS_GUI=OFF -DVLSMS_BENCH=OFF >/dev/null
cmake --build "$build/headless" -j2 --target vlsmsd vlsms-pdu vlsms-modemsim

dbdir="$build/mariadb"
bash tools/mariadb.sh test-start "$dbdir"
trap 'bash "$root/tools/mariadb.sh" stop "$dbdir" >/dev/null || true' EXIT
# shellcheck disable=SC1091
source "$dbdir/env.sh"

status=0
(cd "$build" && ctest -j2 --output-on-failure --timeout 600) 2>&1 | tee "$build/ctest.log" || status=1
summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$build/ctest.log" | tail -n 1 || true)
total=$(echo "$summary" | sed -E 's/.* out of ([0-9]+).*/\1/')
failed=$(echo "$summary" | sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/')
if [ -z "$summary" ]; then
    total=0 failed=0 status=1
fi

# libFuzzer is talkative: its log stays in the build directory unless it finds something.
if bash tools/pdu/fuzz.sh 60 "$build/fuzz" >"$build/fuzz.log" 2>&1; then
    tail -n 1 "$build/fuzz.log"
else
    tail -n 40 "$build/fuzz.log"
    failed=$((failed + 1))
    status=1
fi
total=$((total + 1))

echo "tests: $((total - failed)) passed, $failed failed"
exit $status
