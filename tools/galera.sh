#!/usr/bin/env bash
# A three-node MariaDB Galera cluster on loopback, for fault runs against
# several servers. Each node is a mariadbd of Debian's mariadb-server with the
# galera-4 provider, run as the invoking user with its data, socket, pid file,
# error log and option file under DIR/node<N>.
#
#   tools/galera.sh start DIR         start the cluster under DIR (or the nodes of it
#                                     that are down) and write DIR/env.sh
#   tools/galera.sh stop DIR          stop every node (the first one last)
#   tools/galera.sh status DIR        each node: pid, ports, state, cluster size
#   tools/galera.sh start-node DIR N  start node N (1 to 3) again: it rejoins the
#                                     running cluster and catches up (IST, or a full
#                                     copy by mariabackup when its gap is too old)
#   tools/galera.sh stop-node DIR N   stop node N cleanly
#
# DIR/env.sh sets VLSMS_GALERA_HOST (the three nodes as host:port,...), the
# ports VLSMS_GALERA_PORT1..3 and the account VLSMS_GALERA_USER, _PWD and _DB,
# which holds an empty smsserver_in. Buffers are small (32 MB buffer pool and
# write-set cache per node): three nodes fit beside other work on a small
# machine. Every port is on 127.0.0.1; every wait is bounded.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
MARIADBD=${MARIADBD:-$(command -v mariadbd || command -v mysqld || echo /usr/sbin/mariadbd)}
[ -x "$MARIADBD" ] || MARIADBD=/usr/sbin/mariadbd
INSTALL_DB=$(command -v mariadb-install-db || command -v mysql_install_db || echo mariadb-install-db)
CLIENT=$(command -v mariadb || command -v mysql || echo mariadb)

NODES=(1 2 3)
DB_USER=vlsms_galera
DB_PWD=vlsms-galera-73914
DB_NAME=smsserver_galera
CLUSTER=vlsms-galera
START_SECONDS=180 # a join with a full copy of a small data set takes seconds

say() { printf 'galera.sh: %s\n' "$*"; }
die() {
    printf 'galera.sh: %s\n' "$*" >&2
    exit 1
}

# The packages a node needs; installed here, not by the test command.
ensure_packages() {
    local want=(mariadb-server mariadb-client galera-4 mariadb-backup socat iproute2) missing=() pkg
    for pkg in "${want[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    say "installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

provider() {
    local p
    for p in /usr/lib/galera/libgalera_smm.so /usr/lib/libgalera_smm.so /usr/lib64/galera-4/libgalera_smm.so \
        /usr/lib/x86_64-linux-gnu/galera/libgalera_smm.so; do
        [ -f "$p" ] && {
            echo "$p"
            return 0
        }
    done
    die "libgalera_smm.so not found: install Debian's galera-4 package"
}

port_listened() { # port
    ss -Htln "sport = :$1" 2>/dev/null | grep -q . ||
        timeout 3 bash -c "exec 3<>/dev/tcp/127.0.0.1/$1" 2>/dev/null
}

port_taken() { # port: listened on, or the local end of any socket
    port_listened "$1" || ss -Htan "sport = :$1" 2>/dev/null | grep -q .
}

# Four ports per node (client, group, incremental and full state transfer),
# all distinct and free now.
pick_ports() {
    local chosen=() port
    for _ in $(seq 1 400); do
        port=$((20000 + (RANDOM * 32768 + RANDOM) % 30000))
        case " ${chosen[*]} " in *" $port "*) continue ;; esac
        port_taken "$port" || chosen+=("$port")
        [ ${#chosen[@]} -eq 12 ] && break
    done
    [ ${#chosen[@]} -eq 12 ] || die "no free ports found"
    echo "${chosen[*]}"
}

node_dir() { echo "$1/node$2"; }

ports_of() { # dir n -> "client group ist sst"
    cat "$(node_dir "$1" "$2")/ports"
}

client_port() { # dir n
    local p
    read -r p _ <"$(node_dir "$1" "$2")/ports"
    echo "$p"
}

pid_alive() { # node dir
    local pidfile=$1/mysqld.pid pid
    [ -s "$pidfile" ] || return 1
    pid=$(cat "$pidfile")
    [ -n "$pid" ] && [ -d "/proc/$pid" ] || return 1
    # Only a server started on this node's option file counts, never a recycled pid.
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q -- "--defaults-file=$1/my.cnf" || return 1
}

# Runs SQL on a node as the administrator (the invoking user, by socket).
admin_sql() { # node-dir sql
    "$CLIENT" --no-defaults --socket="$1/mysqld.sock" -u "$(id -un)" -N -B --connect-timeout=5 -e "$2"
}

wsrep_state() { # node-dir -> "state size ready", empty when it does not answer
    admin_sql "$1" "SELECT
        (SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME='WSREP_LOCAL_STATE_COMMENT'),
        (SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME='WSREP_CLUSTER_SIZE'),
        (SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME='WSREP_READY')" \
        2>/dev/null | tr '\t' ' ' || true
}

write_config() { # dir n ports...
    local dir=$1 n=$2 nd
    nd=$(node_dir "$dir" "$n")
    local all=() k p=() cp gp ip sp
    for k in "${NODES[@]}"; do
        read -r -a p <"$(node_dir "$dir" "$k")/ports"
        all+=("127.0.0.1:${p[1]}")
    done
    read -r cp gp ip sp <"$nd/ports"
    local members
    members=$(
        IFS=,
        echo "${all[*]}"
    )
    cat >"$nd/my.cnf" <<EOF
[mysqld]
datadir=$nd/data
socket=$nd/mysqld.sock
pid-file=$nd/mysqld.pid
log-error=$nd/mysqld.err
bind-address=127.0.0.1
port=$cp
skip-name-resolve
character-set-server=utf8mb4
collation-server=utf8mb4_unicode_ci
max-connections=100
innodb-buffer-pool-size=32M
innodb-log-file-size=32M
innodb-flush-log-at-trx-commit=2
innodb-autoinc-lock-mode=2
default-storage-engine=InnoDB
binlog-format=ROW
wsrep-on=ON
wsrep-provider=$(provider)
wsrep-cluster-name=$CLUSTER
wsrep-cluster-address=gcomm://$members
wsrep-node-name=node$n
wsrep-node-address=127.0.0.1:$gp
wsrep-node-incoming-address=127.0.0.1:$cp
wsrep-provider-options=gmcast.listen_addr=tcp://127.0.0.1:$gp;ist.recv_addr=127.0.0.1:$ip;gcache.size=32M;gcache.recover=yes
# Not rsync: its daemon, started as root, writes as 'nobody' and cannot fill
# the joiner's data directory.
wsrep-sst-method=mariabackup
wsrep-sst-receive-address=127.0.0.1:$sp
$([ "$(id -u)" = 0 ] && echo "user=root")
[sst]
sst-log-archive=0
EOF
    chmod 600 "$nd/my.cnf"
}

# A node that was killed left no position in grastate.dat and would take a
# full copy from a donor. Its last committed position is read from its storage
# instead, so that it only receives the transactions it missed (IST). Prints
# uuid:seqno, or nothing when there is no storage or the position is known.
recover_position() { # node-dir
    local nd=$1
    [ -d "$nd/data/mysql" ] && [ -f "$nd/data/grastate.dat" ] || return 0
    grep -q '^seqno: *-1' "$nd/data/grastate.dat" || return 0
    : >"$nd/recover.err"
    (cd "$nd" && timeout 120 "$MARIADBD" --defaults-file="$nd/my.cnf" --wsrep-recover \
        --log-error="$nd/recover.err" </dev/null >/dev/null 2>&1) || true
    grep -o 'WSREP: Recovered position: [0-9a-f-]*:-\?[0-9]*' "$nd/recover.err" | tail -n 1 | awk '{ print $4 }'
}

# How the node's last start caught up with the cluster, from its error log.
caught_up_how() { # node-dir
    local since
    since=$(tac "$1/mysqld.err" | sed '/^--- galera.sh start/q')
    if grep -q 'Running IST' <<<"$since"; then
        echo "caught up by IST"
    elif grep -q 'Proceeding with SST' <<<"$since"; then
        echo "full copy by SST"
    elif grep -q 'IST received' <<<"$since"; then
        echo "caught up by IST"
    else
        echo "nothing to catch up"
    fi
}

# Starts node n and waits until it is synced with the cluster; with
# "bootstrap" it forms a new cluster of its own.
start_node() { # dir n [bootstrap]
    local dir=$1 n=$2 mode=${3:-join} nd
    nd=$(node_dir "$dir" "$n")
    if pid_alive "$nd"; then
        say "node $n already runs (pid $(cat "$nd/mysqld.pid"))"
        return 0
    fi
    mkdir -p "$nd/data"
    local extra=() position
    position=$(recover_position "$nd")
    [ -n "$position" ] && extra=(--wsrep-start-position="$position")
    if [ "$mode" = bootstrap ]; then
        extra=(--wsrep-new-cluster)
        # Forming the cluster from this node is what the operator asked for.
        [ -f "$nd/data/grastate.dat" ] && sed -i 's/^safe_to_bootstrap:.*/safe_to_bootstrap: 1/' "$nd/data/grastate.dat"
    fi
    rm -f "$nd/mysqld.pid" "$nd/mysqld.sock"
    # The log is kept across starts: it tells how each join caught up.
    echo "--- galera.sh start ($mode) $(date '+%F %T')" >>"$nd/mysqld.err"
    setsid "$MARIADBD" --defaults-file="$nd/my.cnf" "${extra[@]}" </dev/null >>"$nd/mysqld.out" 2>&1 &
    local pid=$! state
    for _ in $(seq 1 $((START_SECONDS * 4))); do
        if ! kill -0 "$pid" 2>/dev/null; then
            tail -n 20 "$nd/mysqld.err" >&2 || true
            die "node $n did not start, see $nd/mysqld.err"
        fi
        state=$(wsrep_state "$nd")
        case $state in
        "Synced "*" ON")
            say "node $n synced on 127.0.0.1:$(client_port "$dir" "$n") (cluster size ${state#Synced }," \
                "$(caught_up_how "$nd"))"
            return 0
            ;;
        esac
        sleep 0.25
    done
    die "node $n was not synced within $START_SECONDS s (pid $pid), see $nd/mysqld.err"
}

stop_node() { # dir n
    local nd pid
    nd=$(node_dir "$1" "$2")
    if ! pid_alive "$nd"; then
        say "node $2 does not run"
        return 0
    fi
    pid=$(cat "$nd/mysqld.pid")
    kill -CONT "$pid" 2>/dev/null || true # a node left frozen by a fault run
    kill -TERM "$pid"
    for _ in $(seq 1 1200); do
        [ -d "/proc/$pid" ] || {
            say "stopped node $2"
            return 0
        }
        sleep 0.1
    done
    die "node $2 (pid $pid) did not stop within 120 s"
}

setup_sql() {
    local user pwd
    user=$(printf "'%s'" "$DB_USER")
    pwd=$(printf "'%s'" "$DB_PWD")
    echo "CREATE DATABASE IF NOT EXISTS \`$DB_NAME\` CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;"
    local host
    for host in localhost 127.0.0.1 ::1; do
        echo "CREATE USER IF NOT EXISTS $user@'$host' IDENTIFIED BY $pwd;"
        # Fault runs make databases and accounts of their own and read the nodes' state.
        echo "GRANT ALL PRIVILEGES ON *.* TO $user@'$host' WITH GRANT OPTION;"
    done
    echo "USE \`$DB_NAME\`;"
    bash "$ROOT/tools/mariadb.sh" schema
}

write_env() { # dir
    local dir=$1 hosts=() ports=() k p
    for k in "${NODES[@]}"; do
        p=$(client_port "$dir" "$k")
        ports+=("$p")
        hosts+=("127.0.0.1:$p")
    done
    cat >"$dir/env.sh" <<EOF
export VLSMS_GALERA_HOST=$(
        IFS=,
        echo "${hosts[*]}"
    )
export VLSMS_GALERA_PORT1=${ports[0]} VLSMS_GALERA_PORT2=${ports[1]} VLSMS_GALERA_PORT3=${ports[2]}
export VLSMS_GALERA_USER=$DB_USER VLSMS_GALERA_PWD=$DB_PWD VLSMS_GALERA_DB=$DB_NAME
EOF
}

# The node to form the cluster from when none runs: the one Galera marked safe
# (the last to stop cleanly), else the one that committed the most.
bootstrap_node() { # dir
    local dir=$1 k best=1 best_seqno=-2 seqno
    for k in "${NODES[@]}"; do
        local g
        g=$(node_dir "$dir" "$k")/data/grastate.dat
        [ -f "$g" ] || continue
        if grep -q '^safe_to_bootstrap: 1' "$g"; then
            echo "$k"
            return 0
        fi
        seqno=$(awk '/^seqno:/ { print $2 }' "$g")
        # A killed node keeps its position in its storage only.
        [ "$seqno" = -1 ] && seqno=$(recover_position "$(node_dir "$dir" "$k")" | sed 's/.*://')
        [[ $seqno =~ ^-?[0-9]+$ ]] && [ "$seqno" -gt "$best_seqno" ] && best=$k best_seqno=$seqno
    done
    echo "$best"
}

cmd_start() {
    local dir=$1
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    chmod 700 "$dir"
    local k running=()
    for k in "${NODES[@]}"; do
        pid_alive "$(node_dir "$dir" "$k")" && running+=("$k")
    done
    local fresh=no
    if [ ! -s "$(node_dir "$dir" 1)/ports" ]; then
        fresh=yes
    elif [ ${#running[@]} -eq 0 ]; then
        # Ports saved by an earlier start may have been taken since.
        local saved p
        for k in "${NODES[@]}"; do
            read -r -a saved <"$(node_dir "$dir" "$k")/ports"
            for p in "${saved[@]}"; do
                port_listened "$p" && fresh=yes
            done
        done
    fi
    if [ $fresh = yes ]; then
        local ports
        read -r -a ports <<<"$(pick_ports)"
        for k in "${NODES[@]}"; do
            mkdir -p "$(node_dir "$dir" "$k")"
            echo "${ports[@]:$(((k - 1) * 4)):4}" >"$(node_dir "$dir" "$k")/ports"
        done
    fi
    for k in "${NODES[@]}"; do
        write_config "$dir" "$k"
    done
    local first
    if [ ${#running[@]} -gt 0 ]; then
        first=${running[0]}
        say "node(s) ${running[*]} already run"
    elif [ ! -d "$(node_dir "$dir" 1)/data/mysql" ]; then
        first=1
        local as_user=()
        [ "$(id -u)" = 0 ] && as_user=(--user=root)
        local nd
        nd=$(node_dir "$dir" 1)
        "$INSTALL_DB" --no-defaults --datadir="$nd/data" "${as_user[@]}" \
            --auth-root-authentication-method=socket --auth-root-socket-user="$(id -un)" --skip-test-db \
            >"$nd/install.log" 2>&1 || die "mariadb-install-db failed, see $nd/install.log"
        start_node "$dir" 1 bootstrap
    else
        first=$(bootstrap_node "$dir")
        start_node "$dir" "$first" bootstrap
    fi
    # Kept in step at every start; replicated to the nodes that join.
    admin_sql "$(node_dir "$dir" "$first")" "$(setup_sql)" ||
        die "could not make the account and the table on node $first"
    # The others join one at a time, each catching up from a synced node.
    for k in "${NODES[@]}"; do
        [ "$k" = "$first" ] || start_node "$dir" "$k"
    done
    write_env "$dir"
    say "cluster under $dir: $(grep -o 'VLSMS_GALERA_HOST=[^ ]*' "$dir/env.sh")"
}

cmd_stop() {
    local dir=$1 k
    # Node 1 last, so that it is the one marked safe to form the cluster again.
    for k in 3 2 1; do
        stop_node "$dir" "$k"
    done
}

cmd_status() {
    local dir=$1 k nd state
    for k in "${NODES[@]}"; do
        nd=$(node_dir "$dir" "$k")
        [ -s "$nd/ports" ] || {
            echo "node $k: not made"
            continue
        }
        if pid_alive "$nd"; then
            state=$(wsrep_state "$nd")
            [ -n "$state" ] || state="does not answer"
            printf 'node %s: pid %s, ports %s (client group ist sst), %s\n' "$k" "$(cat "$nd/mysqld.pid")" \
                "$(ports_of "$dir" "$k")" "$state"
        else
            printf 'node %s: down, ports %s\n' "$k" "$(ports_of "$dir" "$k")"
        fi
    done
}

node_arg() {
    case ${1:-} in
    1 | 2 | 3) echo "$1" ;;
    *) die "the node is 1, 2 or 3" ;;
    esac
}

need_dir() { # dir
    [ -n "${1:-}" ] || die "usage: $0 start|stop|status DIR, start-node|stop-node DIR N"
    [ -d "$1" ] || [ "$2" = start ] || die "no such directory: $1"
}

cmd=${1:-}
need_dir "${2:-}" "$cmd"
case $cmd in
start)
    ensure_packages
    cmd_start "$2"
    ;;
stop) cmd_stop "$(cd "$2" && pwd)" ;;
status) cmd_status "$(cd "$2" && pwd)" ;;
start-node)
    dir=$(cd "$2" && pwd)
    n=$(node_arg "${3:-}")
    [ -s "$(node_dir "$dir" "$n")/my.cnf" ] || die "no node $n under $dir: run start first"
    start_node "$dir" "$n"
    ;;
stop-node) stop_node "$(cd "$2" && pwd)" "$(node_arg "${3:-}")" ;;
*) die "usage: $0 start|stop|status DIR, start-node|stop-node DIR N" ;;
esac
