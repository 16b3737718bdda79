#!/usr/bin/env bash
# Builds vlsms and starts it. Installs missing packages first, and when no
# MySQL server answers at the configured address on this machine, starts a
# private local MariaDB with the settings' defaults so that messages have
# somewhere to go.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VLSMS_BUILD_DIR:-$root/build}
cd "$root"

bash tools/deps.sh run
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target vlsms
bash tools/mariadb.sh ensure-default
exec "$build/app/vlsms" "$@"
