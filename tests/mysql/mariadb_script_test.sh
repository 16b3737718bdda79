#!/usr/bin/env bash
# Checks tools/mariadb.sh end to end: the run command's private server follows
# settings.ini, leaves an answering address alone, ignores remote addresses and
# stops again. Usage: mariadb_script_test.sh PATH/TO/mariadb.sh
set -uo pipefail

script=$1
tmp=$(mktemp -d)
failures=0

cleanup() {
    APPDATA=$tmp/app bash "$script" stop-default >/dev/null 2>&1
    rm -rf "$tmp"
}
trap cleanup EXIT

check() { # description, command...
    local what=$1
    shift
    if "$@"; then
        echo "PASS: $what"
    else
        echo "FAIL: $what"
        failures=$((failures + 1))
    fi
}

free_port() {
    local port
    while :; do
        port=$((20000 + (RANDOM * 32768 + RANDOM) % 30000))
        ss -Htln "sport = :$port" | grep -q . || {
            echo "$port"
            return
        }
    done
}

sql() { # port user password database statement
    MYSQL_PWD=$3 mariadb --no-defaults --protocol=TCP -h 127.0.0.1 -P "$1" -u "$2" -N -B "$4" -e "$5" 2>&1
}

port=$(free_port)
mkdir -p "$tmp/app/VLSMS"
# Written the way the program writes it, CRLF and Qt's quoting included.
printf '[General]\r\nDEF_BAUD=115200\r\nMYSQL_HOST=127.0.0.1\r\nMYSQL_PORT=%s\r\nMYSQL_USER=operator\r\nMYSQL_PWD="se,cr\\"et'"'"'x"\r\nMYSQL_DBNAME=sms db\r\n' \
    "$port" >"$tmp/app/VLSMS/settings.ini"
pwd_text='se,cr"et'"'"'x'

out=$(APPDATA=$tmp/app bash "$script" ensure-default 2>&1)
check "ensure-default starts a server when nothing answers: $out" grep -q "started a private MariaDB on 127.0.0.1:$port" <<<"$out"

check "the settings' account can insert into the table" sql "$port" operator "$pwd_text" "sms db" \
    "INSERT INTO smsserver_in (process,type,encoding,originator,text,gateway_id,userphone) VALUES (0,'I','U','1','x','COM1','2')"
bound=$(sql "$port" operator "$pwd_text" "sms db" "SELECT @@bind_address")
check "it listens on loopback only: $bound" test "$bound" = 127.0.0.1

out=$(APPDATA=$tmp/app bash "$script" ensure-default 2>&1)
check "an answering address is left alone: $out" grep -q "answers at 127.0.0.1:$port; nothing started" <<<"$out"

out=$(APPDATA=$tmp/app bash "$script" stop-default 2>&1)
check "stop-default stops it: $out" grep -q "stopped" <<<"$out"

mkdir -p "$tmp/remote/VLSMS"
printf '[General]\nMYSQL_HOST=192.0.2.1\nMYSQL_PORT=%s\n' "$port" >"$tmp/remote/VLSMS/settings.ini"
out=$(APPDATA=$tmp/remote bash "$script" ensure-default 2>&1)
check "a remote address gets no server: $out" grep -q "not a loopback address; nothing started" <<<"$out"

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
