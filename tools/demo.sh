#!/usr/bin/env bash
# A bank of eight simulated GSM modems against the real program and the local
# MariaDB of tools/run.sh. Prints every row that reaches smsserver_in.
#
#   tools/demo.sh          stops once all demo messages have arrived
#   tools/demo.sh --keep   keeps the program and the modems running until Ctrl-C
#
# The program runs with a data directory of its own (build/demo/appdata), so
# the operator's settings and store are not touched; it forwards to the MySQL
# address of the operator's settings (by default the private local MariaDB).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VLSMS_BUILD_DIR:-$root/build}
keep=${1:-}
cd "$root"

bash tools/deps.sh run
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target vlsms vlsms-modemsim vlsms-pdu
bash tools/mariadb.sh ensure-default

# The MySQL address of the operator's settings, or the built-in defaults.
datadir=${APPDATA:+$APPDATA/VLSMS}
datadir=${datadir:-${XDG_DATA_HOME:-$HOME/.local/share}/VLSMS}
setting() { # key default
    local v=""
    [ -f "$datadir/settings.ini" ] && v=$(sed -n "s/^$1=//p" "$datadir/settings.ini" | tr -d '\r"' | head -n 1)
    echo "${v:-$2}"
}
host=$(setting MYSQL_HOST 127.0.0.1)
port=$(setting MYSQL_PORT 3306)
user=$(setting MYSQL_USER root)
pwd=$(setting MYSQL_PWD 73914)
db=$(setting MYSQL_DBNAME smsserver)
sql() { MYSQL_PWD=$pwd mariadb -h "$host" -P "$port" -u "$user" --default-character-set=utf8mb4 -N -B -r "$db" -e "$1"; }

demo=$build/demo
rm -rf "$demo"
mkdir -p "$demo/appdata/VLSMS"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

grep -v '^#' tools/demo/messages.txt >"$demo/messages.txt"
"$build/tools/modemsim/vlsms-modemsim" -n 8 -d "$demo/modems" -i "$demo/messages.txt" -q >"$demo/modemsim.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do
    grep -q '^ready' "$demo/modemsim.log" 2>/dev/null && break
    sleep 0.1
done
grep -q '^ready' "$demo/modemsim.log" || { cat "$demo/modemsim.log"; exit 1; }
ports=$(ls -1 "$demo/modems" | sort -V | sed "s|^|$demo/modems/|" | paste -sd, -)

# Only the simulated modems are served: the machine's own serial ports are left alone.
shopt -s nullglob
machine=()
for dev in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do machine+=("${dev##*/}"); done
machine=$(IFS=,; echo "${machine[*]}")
cat >"$demo/appdata/VLSMS/settings.ini" <<INI
[General]
DEF_SPEED=100
DEF_IGNORE="$machine"
DEF_EXTRA_PORTS="$ports"
MYSQL_HOST=$host
MYSQL_PORT=$port
MYSQL_USER=$user
MYSQL_PWD=$pwd
MYSQL_DBNAME=$db
INI

last=$(sql "SELECT COALESCE(MAX(id),0) FROM smsserver_in")
platform=()
[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || platform=(-platform offscreen)
(cd "$demo" && APPDATA="$demo/appdata" exec "$build/app/vlsms" "${platform[@]}") &
pids+=($!)
echo "vlsms is running with 8 simulated modems; rows arriving in $db.smsserver_in on $host:$port:"

# Every message of the file is one row: single messages and complete multi-part ones.
total=$(awk '{print $2}' "$demo/messages.txt" | "$build/tools/pdu/vlsms-pdu" 2>/dev/null |
        grep -c '"sms_part_index":\(0\|1\),' || true)
seen=0
deadline=$((SECONDS + 120))
while [ "$keep" = --keep ] || { [ "$seen" -lt "$total" ] && [ $SECONDS -lt $deadline ]; }; do
    sleep 2
    while IFS=$'\t' read -r id when port from text; do
        [ -n "$id" ] || continue
        printf '%s  %-26s %-14s %s\n' "$when" "${port##*/}" "$from" "$text"
        last=$id
        seen=$((seen + 1))
    done < <(sql "SELECT id, receive_date, gateway_id, originator, REPLACE(text, '\n', ' ') FROM smsserver_in WHERE id > $last ORDER BY id")
done
echo "$seen of $total messages arrived."
[ "$seen" -ge "$total" ]
