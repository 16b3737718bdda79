#!/usr/bin/env bash
# Installs the Debian packages vlsms needs when they are missing.
#   tools/deps.sh run    what building and running the program needs
#   tools/deps.sh test   that, plus what the test suite needs
# Quick when everything is there: it only asks dpkg.
set -euo pipefail

want=(cmake g++ make pkg-config libsystemd-dev libmariadb-dev qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite
      mariadb-server mariadb-client iproute2 fonts-wqy-zenhei)
if [ "${1:-run}" = test ]; then
    # Qt's MySQL driver, through which the tests and benchmarks read the
    # table; the fuzzer; the Qt 5.15 build; making and checking the Debian
    # package; the parser that reads metrics.prom back.
    want+=(libqt6sql6-mysql clang-14 libclang-rt-14-dev python3-prometheus-client
           qtbase5-dev libqt5serialport5-dev libqt5sql5-sqlite
           dpkg-dev file lintian systemd man-db)
fi

missing=()
for pkg in "${want[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
