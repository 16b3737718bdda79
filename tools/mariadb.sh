#!/usr/bin/env bash
# Private MariaDB servers for vlsms, started from Debian's mariadb-server
# binaries without touching the system service.
#
#   tools/mariadb.sh test-start DIR   start (or reuse) a throw-away server under DIR
#                                     for the tests and write DIR/env.sh; the server
#                                     speaks TLS with a certificate of a CA made
#                                     under DIR/tls (openssl)
#   tools/mariadb.sh stop DIR         stop the server started under DIR
#   tools/mariadb.sh ensure-default   make the MySQL address of settings.ini answer:
#                                     if nothing answers there and it is a loopback
#                                     address, start a private server for this user
#                                     with the data under the program's data directory
#   tools/mariadb.sh stop-default     stop the server that ensure-default started
#   tools/mariadb.sh schema           print the smsserver_in table definition
#
# Every server listens on a loopback address only, keeps its socket, pid file and
# error log beside its data, and is stopped only through its own pid file.
set -euo pipefail

MARIADBD=${MARIADBD:-$(command -v mariadbd || command -v mysqld || echo /usr/sbin/mariadbd)}
[ -x "$MARIADBD" ] || MARIADBD=/usr/sbin/mariadbd
INSTALL_DB=$(command -v mariadb-install-db || command -v mysql_install_db || echo mariadb-install-db)
ADMIN=$(command -v mariadb-admin || command -v mysqladmin || echo mariadb-admin)
CLIENT=$(command -v mariadb || command -v mysql || echo mariadb)

TEST_USER=vlsms_test
TEST_PWD=vlsms-test-73914
TEST_DB=smsserver_test

say() { printf 'mariadb.sh: %s\n' "$*"; }
die() {
    printf 'mariadb.sh: %s\n' "$*" >&2
    exit 1
}

# The table every forwarding target must have: the nine columns the program
# writes, plus a key of its own. The text is four-byte UTF-8 so that emoji and
# rare CJK characters survive; MEDIUMTEXT holds the longest joined multi-part text.
schema_sql() {
    cat <<'EOF'
CREATE TABLE IF NOT EXISTS smsserver_in (
  id           BIGINT UNSIGNED NOT NULL AUTO_INCREMENT,
  process      INT             NOT NULL DEFAULT 0,
  type         CHAR(1)         NOT NULL DEFAULT 'I',
  encoding     CHAR(1)         NOT NULL DEFAULT 'U',
  message_date DATETIME        NULL,
  receive_date DATETIME        NULL,
  originator   VARCHAR(64)     NOT NULL DEFAULT '',
  text         MEDIUMTEXT      NOT NULL,
  gateway_id   VARCHAR(64)     NOT NULL DEFAULT '',
  userphone    VARCHAR(64)     NOT NULL DEFAULT '',
  PRIMARY KEY (id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;
EOF
}

sql_string() { # quote a value as an SQL string literal
    local s=${1//\\/\\\\}
    s=${s//\'/\'\'}
    printf "'%s'" "$s"
}

sql_name() { # quote a value as an SQL identifier
    printf '`%s`' "${1//\`/\`\`}"
}

# The statements the server runs at every start: database, account and table.
# Running them at start-up needs no administrator login, and keeps the account
# in step with the settings each time the server starts.
write_init_sql() { # file db user pwd all_privileges
    local file=$1 db user pwd all=$5
    db=$(sql_name "$2")
    user=$(sql_string "$3")
    pwd=$(sql_string "$4")
    {
        echo "CREATE DATABASE IF NOT EXISTS $db CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;"
        for host in localhost 127.0.0.1 ::1; do
            local account="$user@'$host'"
            echo "CREATE USER IF NOT EXISTS $account IDENTIFIED BY $pwd;"
            echo "ALTER USER $account IDENTIFIED BY $pwd;"
            if [ "$all" = yes ]; then
                # The tests make accounts of their own with narrower rights.
                echo "GRANT ALL PRIVILEGES ON *.* TO $account WITH GRANT OPTION;"
            else
                echo "GRANT ALL PRIVILEGES ON $db.* TO $account;"
            fi
        done
        echo "USE $db;"
        schema_sql
    } >"$file"
    chmod 600 "$file"
}

pid_alive() { # dir
    local pidfile=$1/mysqld.pid pid
    [ -s "$pidfile" ] || return 1
    pid=$(cat "$pidfile")
    [ -n "$pid" ] && [ -d "/proc/$pid" ] || return 1
    # Only a server whose data directory is ours counts, never a recycled pid.
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q -- "--datadir=$1/data" || return 1
}

answers_tcp() { # host port
    local host=$1 port=$2
    [ "$host" = localhost ] && host=127.0.0.1
    timeout 3 bash -c "exec 3<>/dev/tcp/$host/$port" 2>/dev/null
}

port_free() { # address port
    ! answers_tcp "$1" "$2" && ! ss -Htln "sport = :$2" 2>/dev/null | grep -q .
}

pick_port() {
    local port i
    for i in $(seq 1 50); do
        port=$((20000 + (RANDOM * 32768 + RANDOM) % 30000))
        if port_free 127.0.0.1 "$port"; then
            echo "$port"
            return 0
        fi
    done
    die "no free port found"
}

install_data() { # dir
    local dir=$1
    [ -d "$dir/data/mysql" ] && return 0
    mkdir -p "$dir/data"
    local as_user=()
    [ "$(id -u)" = 0 ] && as_user=(--user=root)
    if ! "$INSTALL_DB" --no-defaults --datadir="$dir/data" "${as_user[@]}" \
        --auth-root-authentication-method=socket --skip-test-db \
        >"$dir/install.log" 2>&1; then
        rm -rf "$dir/data"
        die "mariadb-install-db failed, see $dir/install.log"
    fi
}

# Starts the server under dir on address:port and waits until the account can
# read the table. Returns 2 when the port was taken meanwhile.
start_server() { # dir address port db user pwd [server options...]
    local dir=$1 address=$2 port=$3 db=$4 user=$5 pwd=$6
    shift 6
    local extra=("$@")
    local as_user=()
    [ "$(id -u)" = 0 ] && as_user=(--user=root)
    rm -f "$dir/mysqld.pid" "$dir/mysqld.sock"
    : >"$dir/mysqld.err"
    setsid "$MARIADBD" --no-defaults "${as_user[@]}" \
        --datadir="$dir/data" --socket="$dir/mysqld.sock" --pid-file="$dir/mysqld.pid" \
        --log-error="$dir/mysqld.err" --init-file="$dir/init.sql" \
        --bind-address="$address" --port="$port" --skip-name-resolve \
        --character-set-server=utf8mb4 --collation-server=utf8mb4_unicode_ci \
        --innodb-buffer-pool-size=32M --max-connections=100 "${extra[@]}" \
        </dev/null >/dev/null 2>&1 &
    local pid=$! i
    for i in $(seq 1 600); do
        if ! kill -0 "$pid" 2>/dev/null; then
            grep -q -i 'bind on tcp/ip port' "$dir/mysqld.err" && return 2
            tail -n 15 "$dir/mysqld.err" >&2 || true
            die "the server under $dir did not start, see $dir/mysqld.err"
        fi
        if MYSQL_PWD=$pwd "$CLIENT" --no-defaults --protocol=TCP -h "$address" -P "$port" -u "$user" \
            -N -e "SELECT 1 FROM $(sql_name "$db").smsserver_in LIMIT 0" >/dev/null 2>&1; then
            echo "$port" >"$dir/port"
            return 0
        fi
        sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    die "the server under $dir did not answer within 60 s, see $dir/mysqld.err"
}

stop_server() { # dir
    local dir=$1 pid i
    if ! pid_alive "$dir"; then
        say "no server of ours runs under $dir"
        return 0
    fi
    pid=$(cat "$dir/mysqld.pid")
    kill -TERM "$pid"
    for i in $(seq 1 600); do
        [ -d "/proc/$pid" ] || {
            say "stopped the server under $dir"
            return 0
        }
        sleep 0.1
    done
    die "the server under $dir (pid $pid) did not stop within 60 s"
}

# A CA of its own, a server certificate it signed for the loopback address,
# a client certificate and key, and a second CA that signed nothing (a wrong
# CA for the tests). Made once; a reused server keeps its files.
make_test_tls() { # dir
    local tls=$1/tls
    [ -s "$tls/server.pem" ] && [ -s "$tls/other-ca.pem" ] && return 0
    command -v openssl >/dev/null || die "openssl not found: install Debian's openssl package"
    mkdir -p "$tls"
    chmod 700 "$tls"
    (
        cd "$tls"
        openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=vlsms test CA" \
            -keyout ca.key -out ca.pem
        openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=vlsms other CA" \
            -keyout other-ca.key -out other-ca.pem
        printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' >server.ext
        openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout server.key -out server.csr
        openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 \
            -extfile server.ext -out server.pem
        openssl req -newkey rsa:2048 -nodes -subj "/CN=vlsms test client" -keyout client.key -out client.csr
        openssl x509 -req -in client.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 -out client.pem
        chmod 600 ./*.key
    ) >"$tls/openssl.log" 2>&1 || die "openssl failed, see $tls/openssl.log"
}

cmd_test_start() {
    local dir=${1:-}
    [ -n "$dir" ] || die "usage: $0 test-start DIR"
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    local port
    if pid_alive "$dir" && [ -s "$dir/port" ]; then
        port=$(cat "$dir/port")
        say "reusing the server under $dir on 127.0.0.1:$port"
    else
        # Ours but without a known port: start it afresh.
        pid_alive "$dir" && stop_server "$dir" >/dev/null
        install_data "$dir"
        make_test_tls "$dir"
        write_init_sql "$dir/init.sql" "$TEST_DB" "$TEST_USER" "$TEST_PWD" yes
        local rc tries=0
        while :; do
            port=$(pick_port)
            rc=0
            start_server "$dir" 127.0.0.1 "$port" "$TEST_DB" "$TEST_USER" "$TEST_PWD" \
                --ssl-ca="$dir/tls/ca.pem" --ssl-cert="$dir/tls/server.pem" --ssl-key="$dir/tls/server.key" ||
                rc=$?
            [ $rc = 0 ] && break
            tries=$((tries + 1))
            [ $tries -lt 5 ] || die "no port could be bound"
        done
        say "started a test server under $dir on 127.0.0.1:$port"
    fi
    cat >"$dir/env.sh" <<EOF
export VLSMS_TEST_MYSQL_HOST=127.0.0.1 VLSMS_TEST_MYSQL_PORT=$port VLSMS_TEST_MYSQL_USER=$TEST_USER VLSMS_TEST_MYSQL_PWD=$TEST_PWD VLSMS_TEST_MYSQL_DB=$TEST_DB
export VLSMS_TEST_MYSQL_SSL_CA=$dir/tls/ca.pem VLSMS_TEST_MYSQL_SSL_OTHER_CA=$dir/tls/other-ca.pem VLSMS_TEST_MYSQL_SSL_CERT=$dir/tls/client.pem VLSMS_TEST_MYSQL_SSL_KEY=$dir/tls/client.key
EOF
}

data_dir() {
    local base
    if [ -n "${APPDATA+x}" ]; then
        base=${APPDATA//\\//}
    else
        base=${XDG_DATA_HOME:-$HOME/.local/share}
    fi
    echo "$base/VLSMS"
}

# Reads one key of the [General] section of settings.ini, undoing the quoting
# and escaping that Qt's INI writer applies to plain values.
ini_value() { # file key
    [ -f "$1" ] || return 0
    awk -v key="$2" '
        { sub(/\r$/, "") }
        /^\[/ { section = $0; next }
        section == "[General]" || section == "" {
            i = index($0, "=")
            if (i == 0) next
            k = substr($0, 1, i - 1); gsub(/^[ \t]+|[ \t]+$/, "", k)
            if (k != key) next
            v = substr($0, i + 1); gsub(/^[ \t]+|[ \t]+$/, "", v)
            if (v ~ /^".*"$/) v = substr(v, 2, length(v) - 2)
            gsub(/\\"/, "\"", v); gsub(/\\\\/, "\\", v)
            print v; exit
        }' "$1"
}

is_loopback() {
    case $1 in
    localhost | ::1 | 127.*) return 0 ;;
    *) return 1 ;;
    esac
}

cmd_ensure_default() {
    local dir ini host port user pwd db
    dir=$(data_dir)
    ini=$dir/settings.ini
    host=$(ini_value "$ini" MYSQL_HOST)
    port=$(ini_value "$ini" MYSQL_PORT)
    user=$(ini_value "$ini" MYSQL_USER)
    pwd=$(ini_value "$ini" MYSQL_PWD)
    db=$(ini_value "$ini" MYSQL_DBNAME)
    [ -n "$host" ] || host=127.0.0.1
    [[ $port =~ ^[0-9]+$ ]] && [ "$port" -ge 1 ] && [ "$port" -le 65535 ] || port=3306
    [ -n "$user" ] || user=root
    [ -n "$pwd" ] || pwd=73914
    [ -n "$db" ] || db=smsserver

    if answers_tcp "$host" "$port"; then
        say "a server answers at $host:$port; nothing started"
        return 0
    fi
    if ! is_loopback "$host"; then
        say "nothing answers at $host:$port, and it is not a loopback address; nothing started"
        return 0
    fi
    local address=127.0.0.1
    [ "$host" = ::1 ] && address=::1
    local base=$dir/mariadb
    mkdir -p "$base"
    chmod 700 "$base"
    # Ours, but no longer at the configured address: restart it there.
    pid_alive "$base" && stop_server "$base" >/dev/null
    install_data "$base"
    write_init_sql "$base/init.sql" "$db" "$user" "$pwd" no
    local rc=0
    start_server "$base" "$address" "$port" "$db" "$user" "$pwd" || rc=$?
    [ $rc = 0 ] || die "port $port on $address is taken; nothing started"
    local note=
    [ "$host" = localhost ] && note=" (MYSQL_HOST 'localhost' makes the client use the system socket; set 127.0.0.1)"
    say "started a private MariaDB on $address:$port with database $db for user $user, data in $base$note"
}

need_server() {
    [ -x "$MARIADBD" ] && command -v "$INSTALL_DB" >/dev/null ||
        die "mariadbd or mariadb-install-db not found: install Debian's mariadb-server package"
}

case ${1:-} in
test-start | ensure-default) need_server ;;
esac

case ${1:-} in
test-start) cmd_test_start "${2:-}" ;;
stop)
    [ -n "${2:-}" ] || die "usage: $0 stop DIR"
    [ -d "$2" ] || die "no such directory: $2"
    stop_server "$(cd "$2" && pwd)"
    ;;
ensure-default) cmd_ensure_default ;;
stop-default) stop_server "$(data_dir)/mariadb" ;;
schema) schema_sql ;;
*) die "usage: $0 test-start DIR | stop DIR | ensure-default | stop-default | schema" ;;
esac
