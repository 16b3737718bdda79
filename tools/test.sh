#!/usr/bin/env bash
# Builds vlsms and runs the whole test suite on a Debian 12 machine:
# installs missing packages, builds with warnings as errors, proves the
# widget-free code builds without Qt Widgets, makes the Debian package and
# checks it, builds the programs on Qt 5.15 and runs the tests there that need
# neither MariaDB nor the modem simulator, starts a private MariaDB on a
# loopback port of its own, runs every test under CTest and fuzzes the PDU
# decoder for a minute. Exits non-zero when anything fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VLSMS_BUILD_DIR:-$root/build}
cd "$root"

bash tools/deps.sh test

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVLSMS_WERROR=ON >/dev/null
cmake --build "$build" -j2

status=0
total=0
failed=0
# Adds the closing summary of a CTest log to the totals.
count_ctest() {
    local summary
    summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1 || true)
    if [ -z "$summary" ]; then
        status=1
        return
    fi
    total=$((total + $(echo "$summary" | sed -E 's/.* out of ([0-9]+).*/\1/')))
    failed=$((failed + $(echo "$summary" | sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/')))
}
# Counts one check that is not a CTest test.
count_check() {
    total=$((total + 1))
    if [ "$1" -ne 0 ]; then
        failed=$((failed + 1))
        status=1
    fi
}

# The same programs on Qt 5.15, and the tests that need neither MariaDB nor the
# modem simulator. Only those targets, to keep the second compile short.
qt5="$build/qt5"
cmake -S "$root" -B "$qt5" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVLSMS_WERROR=ON -DVLSMS_QT5=ON \
      -DVLSMS_BENCH=OFF >/dev/null
cmake --build "$qt5" -j2 --target vlsms vlsmsd vlsms-pdu vlsms-standalone-tests >/dev/null
if ctest --test-dir "$qt5" -j2 -L standalone --output-on-failure --timeout 600 >"$build/ctest-qt5.log" 2>&1; then
    grep -E 'tests passed,' "$build/ctest-qt5.log" | sed 's/^/Qt 5.15: /'
else
    cat "$build/ctest-qt5.log"
    status=1
fi
count_ctest "$build/ctest-qt5.log"

dbdir="$build/mariadb"
suite=
fuzz=
headless=
stop_all() {
    if [ -n "$suite" ]; then kill -- "$suite" 2>/dev/null || true; fi
    if [ -n "$fuzz" ]; then kill -- "$fuzz" 2>/dev/null || true; fi
    if [ -n "$headless" ]; then kill -- "$headless" 2>/dev/null || true; fi
    bash "$root/tools/mariadb.sh" stop "$dbdir" >/dev/null || true
}
bash tools/mariadb.sh test-start "$dbdir"
trap stop_all EXIT
# shellcheck disable=SC1091
source "$dbdir/env.sh"

# The suite spends most of its time waiting on simulated modems and timeouts,
# so the lighter work below runs beside it; its log is shown at the end.
ctest --test-dir "$build" -j2 --output-on-failure --timeout 600 >"$build/ctest.log" 2>&1 &
suite=$!

# The fuzzer and the builds below yield the processor to the suite, whose
# modems and servers keep time. libFuzzer is talkative: its log stays in the
# build directory unless it finds something.
nice -n 10 bash tools/pdu/fuzz.sh 60 "$build/fuzz" >"$build/fuzz.log" 2>&1 &
fuzz=$!

# The widget-free library and the tools must build without Qt Widgets; on one
# core, beside the package check below.
cmake -S "$root" -B "$build/headless" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVLSMS_WERROR=ON \
      -DVLSMS_GUI=OFF -DVLSMS_BENCH=OFF >/dev/null
nice -n 10 cmake --build "$build/headless" -j1 --target vlsms_controller vlsmsd vlsms-pdu vlsms-modemsim \
    >"$build/headless.log" 2>&1 &
headless=$!

# The Debian package, unpacked and checked as an operator meets it.
rm -f "$build"/vlsms_*.deb
check=0
if (cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1); then
    bash tools/debcheck.sh "$build"/vlsms_*.deb || check=1
else
    tail -n 20 "$build/cpack.log"
    check=1
fi
count_check $check

check=0
if ! wait "$headless"; then
    grep -E 'error|warning' "$build/headless.log" | head -n 40
    check=1
fi
headless=
count_check $check

check=0
if wait "$fuzz"; then
    tail -n 1 "$build/fuzz.log"
else
    tail -n 40 "$build/fuzz.log"
    check=1
fi
fuzz=
count_check $check

wait "$suite" || status=1
suite=
cat "$build/ctest.log"
count_ctest "$build/ctest.log"

echo "tests: $((total - failed)) passed, $failed failed"
exit $status
