#!/usr/bin/env python3
"""The many-hosts fault run: two hosts forwarding into one three-node MariaDB
Galera cluster on loopback (tools/galera.sh), with the cluster's nodes failing
under traffic.

    tools/hostfaults.sh [--only CASE,...] [--keep-cluster]

Each host is a vlsmsd of its own: its own data directory, its own bank of
simulated modems (two on short links and one on a link whose path is longer
than 64 characters), GATEWAY_NAME A or B, a MySQL account of its own and the
three nodes in MYSQL_HOST. The cases, in order: none (the baseline); the node
in use killed and, 20 s later, started again (it rejoins the cluster); the node
in use frozen for 30 s (SIGSTOP, then SIGCONT); the node in use killed five
times while batches are in flight, with bursts of messages (each kill followed
by a restart once the others have seen the node go); and traffic on the modem
with the long path. "The node in use" is the node that holds the hosts' MySQL
connections at that moment (seen with ss). A kill "in flight" comes the moment
a node's process list shows a program's INSERT (or COMMIT) past the sending of
its write set to the cluster: the other nodes may already hold the rows, and
the outcome is unknown to the program. Several-row batches are waited for
first (10 s), then any.

Every message has a unique text, "<case>.<host>-<n> <run>". The run's database
has one column more than the program writes, arrived_at (the server's time of
the insert), from which the longest gap in arrivals is measured. After each
case the run waits (at most DRAIN_SECONDS) until the SIMs are empty and every
message arrived or the store holds none waiting, then prints per host: sent,
arrived, missing, duplicate rows, the longest gap between arrivals (from the
case's start), the longest time from a node's failure to the host's next
arrival, and whether every gateway_id of the host starts with "<name>:",
fits its column and ends with the port's name. Every wait is bounded; every
process the run started is stopped at the end, also on Ctrl-C or SIGTERM.
"""
import argparse
import os
import re
import select
import shlex
import shutil
import signal
import sqlite3
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import realrun  # noqa: E402
from realrun import log, wait_until  # noqa: E402

SEND_EVERY = 1.0         # seconds between two messages of a host in steady traffic
DRAIN_SECONDS = 120      # the most a case's messages are waited for afterwards
SYNC_SECONDS = 180       # the most the cluster is waited for to have three synced nodes
KILLS = 5                # kills of the node in use while batches are in flight
BURST = 30               # messages per host in each burst of that case
LONG_PORT = "a-simulated-modem-whose-link-path-is-longer-than-sixty-four-characters"
HOST_NAMES = ("A", "B")
# The states of an INSERT on a node from the sending of its write set to the
# cluster until its answer is written: a kill then leaves an unknown outcome.
COMMIT_STATES = ("Waiting for certification", "Commit", "Commit implicit", "Query end", "End of update loop",
                 "Writing to net", "Freeing items", "closing tables")


class Galera:
    """The cluster of tools/galera.sh and one database in it, read on any live node."""

    def __init__(self, workdir, database):
        self.dir = os.path.join(workdir, "galera")
        self.database = database
        self.env = {}
        self.ports = []
        self.frozen = set()     # nodes stopped with SIGSTOP
        self.restarts = []      # (node, Popen of galera.sh start-node, its output file, wall-clock start)

    def script(self, *args, **kwargs):
        return subprocess.run(["bash", os.path.join(realrun.ROOT, "tools", "galera.sh")] + list(args), **kwargs)

    def start(self):
        self.script("start", self.dir, check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(self.dir, "env.sh")) as f:
            for word in shlex.split(f.read()):
                if "=" in word:
                    key, value = word.split("=", 1)
                    self.env[key] = value
        self.ports = [int(self.env["VLSMS_GALERA_PORT%d" % n]) for n in (1, 2, 3)]
        schema = subprocess.run(["bash", os.path.join(realrun.ROOT, "tools", "mariadb.sh"), "schema"],
                                check=True, capture_output=True, text=True).stdout
        # arrived_at is the run's own: the program writes the nine columns by name.
        done = self.sql("DROP DATABASE IF EXISTS %s; CREATE DATABASE %s CHARACTER SET utf8mb4; USE %s; %s"
                        "ALTER TABLE smsserver_in ADD COLUMN arrived_at DATETIME(3) NOT NULL "
                        "DEFAULT CURRENT_TIMESTAMP(3);" % (self.database, self.database, self.database, schema),
                        database="")
        if done is None:
            raise RuntimeError("could not make the database %s in the cluster" % self.database)

    def setting(self, key):
        """The program's settings: MYSQL_HOST lists the three nodes, MYSQL_PORT is the first one's."""
        if key == "HOST":
            return self.env["VLSMS_GALERA_HOST"]
        if key == "PORT":
            return self.env["VLSMS_GALERA_PORT1"]
        return self.env["VLSMS_GALERA_" + key]

    def pid(self, node):
        try:
            with open(os.path.join(self.dir, "node%d" % node, "mysqld.pid")) as f:
                pid = int(f.read().strip())
        except (OSError, ValueError):
            return None
        return pid if os.path.exists("/proc/%d" % pid) else None

    def node_of_port(self, port):
        return self.ports.index(port) + 1 if port in self.ports else None

    def client(self, node, database):
        db = self.database if database is None else database
        return ["mariadb", "--no-defaults", "--protocol=TCP", "-h", "127.0.0.1", "-P", str(self.ports[node - 1]),
                "-u", self.setting("USER"), "--connect-timeout=3", "--default-character-set=utf8mb4",
                "-N", "-B", "-r"] + ([db] if db else [])

    def sql_on(self, node, statements, database=None, timeout=15):
        env = dict(os.environ, MYSQL_PWD=self.setting("PWD"))
        try:
            done = subprocess.run(self.client(node, database) + ["-e", statements], env=env, timeout=timeout,
                                  capture_output=True, text=True)
        except subprocess.TimeoutExpired:
            return None
        if done.returncode != 0:
            return None
        return [line.split("\t") for line in done.stdout.splitlines()]

    def sql(self, statements, database=None, timeout=15):
        """Runs statements on the first node that answers, having seen every
        write the cluster committed; the rows as lists of fields, None when no
        node answers."""
        for node in sorted((1, 2, 3), key=lambda n: (n in self.frozen or self.pid(n) is None, n)):
            if node in self.frozen or self.pid(node) is None:
                continue
            rows = self.sql_on(node, "SET SESSION wsrep_sync_wait=1; " + statements, database, timeout)
            if rows is not None:
                return rows
        return None

    def cluster_size(self):
        """The cluster's size as the first live node sees it; None when none answers."""
        rows = self.sql("SHOW GLOBAL STATUS LIKE 'wsrep_cluster_size'", database="")
        return int(rows[-1][1]) if rows and len(rows[-1]) == 2 else None

    def state(self, node):
        """The node's state and the size of the cluster it sees, e.g. "Synced 3"."""
        rows = self.sql_on(node, "SHOW GLOBAL STATUS WHERE Variable_name IN ('wsrep_local_state_comment', "
                           "'wsrep_cluster_size')", database="", timeout=5)
        values = dict(r for r in rows or [] if len(r) == 2)
        return "%s %s" % (values.get("wsrep_local_state_comment"), values.get("wsrep_cluster_size"))

    def all_synced(self):
        # A node that was frozen may still see the cluster it knew before.
        return all(n not in self.frozen and self.pid(n) and self.state(n) == "Synced 3" for n in (1, 2, 3))

    def kill(self, node):
        """SIGKILL to the node; the wall-clock time it was sent (now when the node was down)."""
        pid = self.pid(node)
        moment = time.time()
        if pid is not None:
            os.kill(pid, signal.SIGKILL)
            wait_until(lambda: not os.path.exists("/proc/%d" % pid), 30, step=0.05)
        return moment

    def freeze(self, node):
        os.kill(self.pid(node), signal.SIGSTOP)
        self.frozen.add(node)

    def thaw(self, node):
        pid = self.pid(node)
        if pid:
            os.kill(pid, signal.SIGCONT)
        self.frozen.discard(node)

    def restart(self, node):
        """Starts the node again in the background; it rejoins the cluster."""
        out = os.path.join(self.dir, "start-node%d.log" % node)
        with open(out, "a") as f:
            proc = subprocess.Popen(["bash", os.path.join(realrun.ROOT, "tools", "galera.sh"), "start-node",
                                     self.dir, str(node)], stdout=f, stderr=subprocess.STDOUT)
        self.restarts.append((node, proc, out, time.time()))

    def finish_restarts(self, seconds):
        """Waits for the restarts begun; the notes on how each rejoined."""
        notes = []
        deadline = time.monotonic() + seconds
        for node, proc, out, began in self.restarts:
            try:
                proc.wait(timeout=max(1, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
            with open(out) as f:
                lines = f.read().strip().splitlines()
            last = lines[-1] if lines else ""
            how = re.search(r", ([a-z ]+by [A-Z]+|nothing to catch up)\)", last)
            if proc.returncode == 0:
                # The script's last line is written at most 0.25 s after the node synced.
                notes.append("node %d rejoined in %.0f s, %s" % (node, os.path.getmtime(out) - began,
                                                                 how.group(1) if how else "?"))
            else:
                notes.append("node %d did NOT rejoin: %s" % (node, last))
        self.restarts = []
        return notes

    def heal(self):
        """Brings every node back: thaws the frozen, starts the dead, waits for three synced nodes."""
        for node in list(self.frozen):
            self.thaw(node)
        if wait_until(self.all_synced, 60, step=1):
            return True
        for node in (1, 2, 3):
            if self.pid(node) is None:
                log("  node %d is down: starting it" % node)
                self.restart(node)
        self.finish_restarts(SYNC_SECONDS)
        return wait_until(self.all_synced, SYNC_SECONDS, step=1)

    def stop(self):
        for node in list(self.frozen):
            self.thaw(node)
        for _, proc, _, _ in self.restarts:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        self.script("stop", self.dir, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Watch:
    """A client session kept open on one node, for quick looks."""

    END = "hostfaults-end"

    def __init__(self, db, node, pid):
        self.pid = pid
        env = dict(os.environ, MYSQL_PWD=db.setting("PWD"))
        self.proc = subprocess.Popen(db.client(node, "") + ["-n"], env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.buffer = b""

    def query(self, statement, seconds=2.0):
        """The rows of statement; None when the session failed or did not answer in time."""
        try:
            self.proc.stdin.write(("%s;\nSELECT '%s';\n" % (statement, self.END)).encode())
            self.proc.stdin.flush()
        except OSError:
            return None
        deadline = time.monotonic() + seconds
        fd = self.proc.stdout.fileno()
        while (self.END + "\n").encode() not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                return None
            chunk = os.read(fd, 65536)
            if not chunk:
                return None
            self.buffer += chunk
        text, self.buffer = self.buffer.split((self.END + "\n").encode(), 1)
        return [line.split("\t") for line in text.decode("utf-8", "replace").splitlines()]

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()


class Pacer:
    """Steady traffic on every host, one message each SEND_EVERY, sent by tick()."""

    def __init__(self, hosts, case):
        self.case = case
        now = time.monotonic()
        self.due = [(now + SEND_EVERY * (k + 0.5) / len(hosts), host) for k, host in enumerate(hosts)]

    def tick(self):
        now = time.monotonic()
        for k, (at, host) in enumerate(self.due):
            if at <= now:
                host.send(self.case)
                self.due[k] = (max(at + SEND_EVERY, now), host)
        return False


class HostAccount:
    """The cluster's settings with a MySQL account of the host's own, so that
    the nodes' process lists tell the hosts apart."""

    def __init__(self, db, name):
        self.db = db
        self.database = db.database
        self.user = "vlsms_hf_" + name.lower()
        self.pwd = "hf-%s-73914" % name.lower()

    def setting(self, key):
        return {"USER": self.user, "PWD": self.pwd}.get(key) or self.db.setting(key)

    def create_sql(self):
        return "".join("CREATE USER IF NOT EXISTS '%s'@'%s' IDENTIFIED BY '%s'; GRANT ALL ON %s.* TO '%s'@'%s'; "
                       % (self.user, where, self.pwd, self.database, self.user, where)
                       for where in ("127.0.0.1", "localhost", "::1"))


class HostTraffic(realrun.Traffic):
    """Traffic round-robin over the modems in use (1-based numbers)."""

    def __init__(self, modems, run_id):
        super().__init__(modems, run_id)
        self.in_use = [1, 2]

    def send_raw(self, pdu):
        self.modems.deliver(self.in_use[self.next_modem % len(self.in_use)], pdu)
        self.next_modem = (self.next_modem + 1) % len(self.in_use)


class Host:
    """One vlsmsd with its data directory, its modems and its traffic."""

    def __init__(self, args, work, name, db, run_id):
        self.name = name
        self.dir = os.path.join(work, name)
        self.datadir = os.path.join(self.dir, "appdata", "VLSMS")
        self.modems = realrun.Modems(args.build, self.dir, 3)
        self.program = realrun.Program(args.build, "service", self.datadir, os.path.join(self.dir, "run"))
        self.traffic = HostTraffic(self.modems, run_id)
        self.storefile = os.path.join(self.datadir, "sms-r.db")
        self.long_port = os.path.join(self.dir, "ports", LONG_PORT)
        self.db = db
        self.account = HostAccount(db, name)

    def ports(self):
        """The links served: the first two modems, and the third one through the long path."""
        return self.modems.ports()[:2] + [self.long_port]

    def start(self):
        # A store left by an earlier run would forward its messages into this one.
        for earlier in (os.path.dirname(self.datadir), self.program.rundir):
            shutil.rmtree(earlier, ignore_errors=True)
        os.makedirs(os.path.dirname(self.long_port), exist_ok=True)
        self.modems.start()
        if os.path.lexists(self.long_port):
            os.remove(self.long_port)
        os.symlink(self.modems.ports()[2], self.long_port)
        realrun.write_settings(self.datadir, self.modems, self.account, self.ports(), ["GATEWAY_NAME=" + self.name])
        self.program.start()

    def tag(self, case):
        return "%s.%s" % (case, self.name)

    def send(self, case):
        return self.traffic.send(self.tag(case))

    def connected_nodes(self):
        """The nodes the program holds a TCP connection to."""
        if not self.program.alive():
            return set()
        done = subprocess.run(["ss", "-Htnp", "state", "established"], capture_output=True, text=True)
        nodes = set()
        for line in done.stdout.splitlines():
            m = re.search(r"\S+:\d+\s+\S+:(\d+)\s+users:\((.*)\)", line)
            if m and ("pid=%d," % self.program.proc.pid) in m.group(2):
                node = self.db.node_of_port(int(m.group(1)))
                if node:
                    nodes.add(node)
        return nodes

    def stop(self):
        status = self.program.stop()
        self.modems.stop()
        return status


class Run:
    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.work)
        self.run_id = "r%d" % int(time.time())
        self.db = Galera(self.work, "vlsms_hostfaults")
        self.hosts = [Host(args, self.work, name, self.db, self.run_id) for name in HOST_NAMES]
        self.gateway_width = 64
        self.results = []  # (case, note, {host: figures})

    def setup(self):
        os.makedirs(self.work, exist_ok=True)
        log("starting the Galera cluster under %s" % self.db.dir)
        self.db.start()
        got = self.db.sql("SELECT CHARACTER_MAXIMUM_LENGTH FROM information_schema.COLUMNS WHERE TABLE_SCHEMA="
                          "DATABASE() AND TABLE_NAME='smsserver_in' AND COLUMN_NAME='gateway_id'")
        if got:
            self.gateway_width = int(got[0][0])
        for host in self.hosts:
            for port in host.ports()[:2]:
                if len(host.name) + 1 + len(port) > self.gateway_width:
                    log("warning: %s:%s is longer than gateway_id (%d characters): give a shorter --work"
                        % (host.name, port, self.gateway_width))
        if self.db.sql("".join(host.account.create_sql() for host in self.hosts), database="") is None:
            raise RuntimeError("could not make the hosts' accounts in the cluster")
        for host in self.hosts:
            host.start()
            log("host %s: vlsmsd on %s, ports %s" % (host.name, host.datadir, ", ".join(
                "%s (%d characters)" % (p, len(p)) for p in host.ports())))
        log("MYSQL_HOST=%s" % self.db.setting("HOST"))
        for host in self.hosts:
            wait_until(lambda: os.path.exists(host.storefile), 30)

    def teardown(self):
        statuses = {}
        for node in list(self.db.frozen):
            self.db.thaw(node)
        for host in self.hosts:
            try:
                statuses[host.name] = host.stop()
            except Exception as why:  # noqa: BLE001  (the rest must still be stopped)
                statuses[host.name] = "stop failed: %s" % why
        if self.args.keep_cluster:
            self.db.heal()
        else:
            self.db.stop()
        return statuses

    def node_in_use(self, seconds=10):
        """The node holding most hosts' connections (host A's on a tie), waited
        for at most seconds; node 1 and a note when no host holds one."""
        def held():
            nodes = {host.name: host.connected_nodes() for host in self.hosts}
            return {name: found for name, found in nodes.items() if found}
        found = wait_until(held, seconds, step=0.2) or {}
        counts = {}
        for name in HOST_NAMES:
            for node in sorted(found.get(name, ())):
                counts[node] = counts.get(node, 0) + 1
        if not counts:
            return 1, "no host held a connection: node 1 taken"
        best = max(counts.values())
        for name in HOST_NAMES:
            for node in sorted(found.get(name, ())):
                if counts[node] == best:
                    users = ",".join(n for n in HOST_NAMES if node in found.get(n, ()))
                    return node, "node %d (in use by %s)" % (node, users)
        return 1, "?"

    def drive(self, case, seconds, events=()):
        """Steady traffic on every host for seconds, running each (at, action) when due."""
        start = time.monotonic()
        plan = list(events)
        for k, host in enumerate(self.hosts):
            at = SEND_EVERY * (k + 0.5) / len(self.hosts)
            while at < seconds:
                plan.append((at, lambda host=host: host.send(case)))
                at += SEND_EVERY
        for at, action in sorted(plan, key=lambda e: e[0]):
            time.sleep(max(0.0, start + at - time.monotonic()))
            action()
        time.sleep(max(0.0, start + seconds - time.monotonic()))

    def rows(self, host, case):
        """(text, gateway_id, arrival time) of the host's rows of case; None while no node answers."""
        got = self.db.sql("SELECT HEX(text), HEX(gateway_id), UNIX_TIMESTAMP(arrived_at) FROM smsserver_in "
                          "WHERE text LIKE '%s-%% %s'" % (host.tag(case), self.run_id), timeout=10)
        if got is None:
            return None
        return [(bytes.fromhex(t).decode("utf-8", "replace"), bytes.fromhex(g).decode("utf-8", "replace"),
                 float(at)) for t, g, at in (r for r in got if len(r) == 3)]

    def settled(self, case):
        for host in self.hosts:
            if host.modems.on_sims() > 0:
                return False
            sent = host.traffic.sent.get(host.tag(case), {})
            rows = self.rows(host, case)
            if rows is not None and set(sent) <= {r[0] for r in rows}:
                continue
            if self.waiting(host, list(sent.values())) != 0:
                return False
        return True

    @staticmethod
    def waiting(host, pdus):
        """How many of pdus the host's store holds in a state other than
        forwarded (1), expired (9), failed (10) or undecodable (11)."""
        if not pdus or not os.path.exists(host.storefile):
            return 0
        try:
            con = sqlite3.connect("file:%s?mode=ro" % host.storefile, uri=True, timeout=10)
            found = con.execute("SELECT COUNT(*) FROM t_recv WHERE hd_flag NOT IN (1, 9, 10, 11) AND txt_pdu IN "
                                "(%s)" % ",".join("?" * len(pdus)), pdus).fetchone()[0]
            con.close()
        except sqlite3.Error:
            return None
        return found

    def gateway_ok(self, host, gateway):
        prefix = host.name + ":"
        return (gateway.startswith(prefix) and len(gateway) <= self.gateway_width and
                any(port.endswith(gateway[len(prefix):]) for port in host.ports()))

    def figures(self, host, case, began, failures):
        sent = host.traffic.sent.get(host.tag(case), {})
        rows = self.rows(host, case) or []
        counts = {}
        for text, _, _ in rows:
            counts[text] = counts.get(text, 0) + 1
        arrived = sum(1 for text in sent if text in counts)
        times = sorted(at for _, _, at in rows)
        gaps = [b - a for a, b in zip([began] + times, times)]
        resume = [min((at for at in times if at >= moment), default=None) for moment in failures]
        bad = [g for _, g, _ in rows if not self.gateway_ok(host, g)]
        return {"sent": len(sent), "arrived": arrived, "missing": len(sent) - arrived,
                "dups": sum(n - 1 for text, n in counts.items() if text in sent),
                "gap_s": "%.1f" % max(gaps) if gaps else "-",
                "resume_s": "-" if not failures else
                ("never" if None in resume else "%.1f" % max(at - m for at, m in zip(resume, failures))),
                "gateway": "ok" if not bad else "bad %d/%d" % (len(bad), len(rows)),
                "bad_example": bad[0] if bad else None}

    def run_case(self, case, title, body):
        """One case: three synced nodes, then body(), which returns a note and
        the wall-clock moments of the failures; then drain and figures."""
        log("case: %s" % title)
        if not self.db.all_synced() and not self.db.heal():
            log("  the cluster has not three synced nodes; the case runs anyway")
        began = time.time()
        note, failures = body()
        ended = time.monotonic()
        wait_until(lambda: self.settled(case), DRAIN_SECONDS, step=2)
        notes = [note] if note else []
        notes += self.db.finish_restarts(SYNC_SECONDS)
        per_host = {}
        for host in self.hosts:
            per_host[host.name] = self.figures(host, case, began, failures)
            per_host[host.name]["drain_s"] = int(time.monotonic() - ended)
            per_host[host.name]["alive"] = "yes" if host.program.alive() else "NO"
            if per_host[host.name]["bad_example"]:
                notes.append("%s: gateway_id %r" % (host.name, per_host[host.name]["bad_example"]))
        self.results.append((title, "; ".join(notes), per_host))
        for name, fig in per_host.items():
            log("  %s: %s" % (name, fig))

    # --- the cases ---------------------------------------------------------

    def case_baseline(self):
        def body():
            self.drive("baseline", 20)
            return "", []
        self.run_case("baseline", "none (baseline)", body)

    def case_killed(self):
        state = {}

        def kill():
            node, why = self.node_in_use()
            state["node"] = node
            state["note"] = why
            log("  SIGKILL to %s" % why)
            state["at"] = self.db.kill(node)

        def restart():
            log("  starting node %d again" % state["node"])
            self.db.restart(state["node"])

        def body():
            self.drive("killed", 45, [(8, kill), (28, restart)])
            return "killed " + state["note"] + " at +8 s, started again at +28 s", [state["at"]]
        self.run_case("killed", "node in use killed, rejoined", body)

    def case_frozen(self):
        state = {}

        def freeze():
            node, why = self.node_in_use()
            state.update(node=node, note=why, at=time.time())
            log("  SIGSTOP to %s" % why)
            self.db.freeze(node)

        def thaw():
            log("  SIGCONT to node %d" % state["node"])
            self.db.thaw(state["node"])

        def body():
            self.drive("frozen", 50, [(8, freeze), (38, thaw)])
            synced = wait_until(self.db.all_synced, SYNC_SECONDS, step=1)
            return ("froze %s for 30 s; three synced nodes %s" % (state["note"], "again" if synced else "NOT again"),
                    [state["at"]])
        self.run_case("frozen", "node in use frozen 30 s", body)

    def case_kills(self):
        case = "kills"
        pacer = Pacer(self.hosts, case)

        def traffic_and(check):
            return lambda: pacer.tick() or check()

        def burst():
            for _ in range(BURST):
                for host in self.hosts:
                    host.send(case)

        def body():
            failures, notes, rejoined = [], [], []
            watches = {}
            try:
                burst()
                for k in range(KILLS):
                    if not wait_until(traffic_and(self.db.all_synced), SYNC_SECONDS, step=0.5):
                        notes.append("kill %d: the cluster had not three synced nodes" % (k + 1))
                    # A batch of several rows first (one sent after the outage the
                    # last kill made): more is at stake in it.
                    seen = (wait_until(traffic_and(lambda: self.insert_in_flight(watches, 2)), 10, step=0.002) or
                            wait_until(traffic_and(lambda: self.insert_in_flight(watches, 1)), 50, step=0.002))
                    if seen:
                        node = seen[0]
                        failures.append(self.db.kill(node))
                        what = "during %s by %s (%s)" % (seen[2], seen[1], seen[3])
                    else:
                        node, what = self.node_in_use(seconds=2)
                        failures.append(self.db.kill(node))
                        what += ", no insert seen in flight"
                    burst()
                    log("  kill %d: SIGKILL to node %d, %s" % (k + 1, node, what))
                    notes.append("node %d %s" % (node, what))
                    # Started again once the others have seen it go, so that it rejoins at once.
                    wait_until(traffic_and(lambda: self.db.cluster_size() == 2), 30, step=0.5)
                    self.db.restart(node)
                    wait_until(traffic_and(lambda: self.db.restarts[-1][1].poll() is not None), SYNC_SECONDS,
                               step=0.5)
                    rejoined += self.db.finish_restarts(SYNC_SECONDS)
            finally:
                for watch in watches.values():
                    watch.close()
            return "killed " + "; ".join(notes + rejoined), failures
        self.run_case(case, "node in use killed %d times in flight" % KILLS, body)

    def insert_in_flight(self, watches, min_rows):
        """(node, host, what, state) while a program's INSERT into
        smsserver_in of at least min_rows rows (or a COMMIT) waits on a node
        for its write set to be certified or commits (past this point the
        other nodes may hold the rows), else None.

        One client session per node is kept open, so that a look costs a
        millisecond and the kill can follow the sight at once."""
        for node in (1, 2, 3):
            pid = self.db.pid(node)
            if pid is None or node in self.db.frozen:
                continue
            watch = watches.get(node)
            if watch is None or watch.pid != pid:
                if watch:
                    watch.close()
                watch = watches[node] = Watch(self.db, node, pid)
            # An INSERT in autocommit, or the COMMIT of a transaction that holds one.
            rows = watch.query(
                "SELECT USER, IF(INFO LIKE 'COMMIT%%', 'a commit', CONCAT('an insert of ', (LENGTH(INFO) - "
                "LENGTH(REPLACE(INFO, '),(', ''))) DIV 3 + 1, ' row(s)')) AS what, STATE FROM "
                "information_schema.PROCESSLIST WHERE USER IN (%s) AND COMMAND IN ('Query', 'Execute') AND "
                "STATE IN (%s) AND (INFO LIKE 'COMMIT%%' OR (INFO LIKE 'INSERT%%INTO%%smsserver_in%%' AND "
                "(LENGTH(INFO) - LENGTH(REPLACE(INFO, '),(', ''))) DIV 3 + 1 >= %d)) LIMIT 1"
                % (",".join("'%s'" % h.account.user for h in self.hosts),
                   ",".join("'%s'" % state for state in COMMIT_STATES), min_rows))
            if rows is None:
                watch.close()
                del watches[node]
                continue
            if rows and len(rows[0]) == 3:
                owner = "".join(h.name for h in self.hosts if h.account.user == rows[0][0]) or rows[0][0]
                return node, owner, rows[0][1], rows[0][2]
        return None

    def case_long_port(self):
        def body():
            for host in self.hosts:
                host.traffic.in_use = [1, 2, 3]
            try:
                self.drive("longport", 21)
            finally:
                for host in self.hosts:
                    host.traffic.in_use = [1, 2]
            return "a third of the messages on %s (%d characters)" % (
                self.hosts[0].long_port, len(self.hosts[0].long_port)), []
        self.run_case("longport", "port path over 64 characters", body)


CASES = {
    "baseline": Run.case_baseline,
    "killed": Run.case_killed,
    "frozen": Run.case_frozen,
    "kills": Run.case_kills,
    "longport": Run.case_long_port,
}


def report(run, statuses, seconds):
    columns = ["sent", "arrived", "missing", "dups", "gap_s", "resume_s", "gateway", "drain_s", "alive"]
    width = {"gateway": 12}
    print("%-38s%-5s" % ("case", "host") + "".join("%*s" % (width.get(c, 9), c) for c in columns))
    for title, note, per_host in run.results:
        for name, figures in per_host.items():
            print("%-38s%-5s" % (title, name) + "".join("%*s" % (width.get(c, 9), figures[c]) for c in columns))
        if note:
            print("    " + note)

    def ended(status):
        if status is None:
            return "had ended before"
        return "exit status %s" % status if isinstance(status, int) else status
    print("hosts: %s; %d s in all" % (", ".join("%s SIGTERM: %s" % (name, ended(status))
                                                for name, status in statuses.items()), seconds))
    print("columns: gap_s = longest time without an arrival of the host, from the case's start; resume_s = "
          "longest time from a node's failure to the host's next arrival; gateway = rows whose gateway_id does "
          "not start with '<name>:', exceeds the column or does not end with the port; drain_s = seconds until "
          "the case's messages settled. Logs: %s/<host>/run/program.err" % run.work)


def parse_args():
    root = realrun.ROOT
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.environ.get("VLSMS_BUILD_DIR", os.path.join(root, "build")))
    parser.add_argument("--work", help="run directory (default BUILD/hostfaults)")
    parser.add_argument("--only", help="comma-separated cases: " + ",".join(CASES))
    parser.add_argument("--keep-cluster", action="store_true", help="leave the cluster running")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.work = args.work or os.path.join(args.build, "hostfaults")
    args.only = args.only.split(",") if args.only else list(CASES)
    unknown = [c for c in args.only if c not in CASES]
    if unknown:
        parser.error("unknown case: " + ",".join(unknown))
    return args


def main():
    args = parse_args()
    run = Run(args)
    started = time.monotonic()
    statuses = {}
    try:
        run.setup()
        for name in args.only:
            CASES[name](run)
    except (KeyboardInterrupt, BrokenPipeError):
        # Ctrl-C reaches the simulators too: a closed input is the same stop.
        log("interrupted: stopping everything the run started")
    finally:
        statuses = run.teardown()
    report(run, statuses, time.monotonic() - started)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    main()
