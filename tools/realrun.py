"""Runs the real programs for the black-box tools: a private MariaDB, a bank of
simulated modems, and vlsmsd or the window, each a process of its own.

Used by tools/faults.py and bench/window/pingwindow.py. POSIX only; every
address is loopback and every wait is bounded.
"""
import os
import random
import re
import shlex
import signal
import sqlite3
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools", "demo"))
import makepdus  # noqa: E402  (beside the demo, builds SMS-DELIVER PDUs)


def log(text):
    print(time.strftime("%H:%M:%S ") + text, file=sys.stderr, flush=True)


def wait_until(check, seconds, step=0.2):
    """Polls check() until it is true or seconds have passed; returns its last value."""
    deadline = time.monotonic() + seconds
    while True:
        value = check()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


def cpu_seconds(pid):
    """User plus system CPU time of a live process, 0 when it is gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class MariaDb:
    """The private server of tools/mariadb.sh test-start, and one database in it."""

    def __init__(self, workdir, database):
        self.dir = os.path.join(workdir, "mariadb")
        self.database = database
        self.env = {}
        self.argv = None

    def start(self):
        subprocess.run(["bash", os.path.join(ROOT, "tools", "mariadb.sh"), "test-start", self.dir],
                       check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(self.dir, "env.sh")) as f:
            for word in shlex.split(f.read()):
                if "=" in word:
                    key, value = word.split("=", 1)
                    self.env[key] = value
        self.argv = self._cmdline()
        schema = subprocess.run(["bash", os.path.join(ROOT, "tools", "mariadb.sh"), "schema"],
                                check=True, capture_output=True, text=True).stdout
        self.sql("DROP DATABASE IF EXISTS %s; CREATE DATABASE %s CHARACTER SET utf8mb4; USE %s; %s"
                 % (self.database, self.database, self.database, schema), database="")

    def setting(self, key):
        return self.env["VLSMS_TEST_MYSQL_" + key]

    def pid(self):
        with open(os.path.join(self.dir, "mysqld.pid")) as f:
            return int(f.read().strip())

    def _cmdline(self):
        with open("/proc/%d/cmdline" % self.pid(), "rb") as f:
            return [a.decode() for a in f.read().split(b"\0") if a]

    def client(self, database=None):
        """The command line of a client session on the test database."""
        db = self.database if database is None else database
        return ["mariadb", "--no-defaults", "--protocol=TCP", "-h", self.setting("HOST"),
                "-P", self.setting("PORT"), "-u", self.setting("USER"),
                "--default-character-set=utf8mb4", "-N", "-B", "-r"] + ([db] if db else [])

    def sql(self, statements, database=None, timeout=30):
        """Runs statements; returns the rows as lists of fields, None on failure."""
        env = dict(os.environ, MYSQL_PWD=self.setting("PWD"))
        try:
            done = subprocess.run(self.client(database) + ["-e", statements], env=env, timeout=timeout,
                                  capture_output=True, text=True)
        except subprocess.TimeoutExpired:
            return None
        if done.returncode != 0:
            return None
        return [line.split("\t") for line in done.stdout.splitlines()]

    def held_session(self, statements):
        """A client session running statements in the background (e.g. a held lock)."""
        env = dict(os.environ, MYSQL_PWD=self.setting("PWD"))
        return subprocess.Popen(self.client() + ["-e", statements], env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def signal(self, sig):
        os.kill(self.pid(), sig)

    def kill_and_wait(self):
        pid = self.pid()
        os.kill(pid, signal.SIGKILL)
        wait_until(lambda: not os.path.exists("/proc/%d" % pid), 30)

    def restart(self):
        """Starts the server again with exactly the arguments it had (same port)."""
        # Started through a shell that does not wait for it, as tools/mariadb.sh
        # does, so that its end is not held up as a child of ours.
        subprocess.run(["sh", "-c", 'setsid "$@" </dev/null >/dev/null 2>&1 &', "sh"] + self.argv, check=True)
        return wait_until(lambda: self.sql("SELECT 1", timeout=5) is not None, 120, step=0.5)

    def stop(self):
        subprocess.run(["bash", os.path.join(ROOT, "tools", "mariadb.sh"), "stop", self.dir],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Modems:
    """vlsms-modemsim serving count modems; messages are fed through its input."""

    def __init__(self, build, workdir, count, extra_args=()):
        self.binary = os.path.join(build, "tools", "modemsim", "vlsms-modemsim")
        self.dir = os.path.join(workdir, "modems")
        self.logfile = os.path.join(workdir, "modemsim.log")
        self.count = count
        self.extra_args = list(extra_args)
        self.proc = None
        self.starts = 0

    def start(self):
        # The log is kept across restarts: its stored/deleted lines are the SIMs' history.
        out = open(self.logfile, "a" if self.starts else "w")
        self.proc = subprocess.Popen([self.binary, "-n", str(self.count), "-d", self.dir, "-i", "-",
                                      "--capacity", "250"] + self.extra_args,
                                     stdin=subprocess.PIPE, stdout=out, stderr=subprocess.STDOUT)
        out.close()
        ready = wait_until(lambda: self._log().splitlines().count("ready") > self.starts, 30)
        self.starts += 1
        if not ready:
            raise RuntimeError("the modem simulator did not start; see " + self.logfile)

    def _log(self):
        try:
            with open(self.logfile) as f:
                return f.read()
        except OSError:
            return ""

    def supports(self, option):
        help_text = subprocess.run([self.binary, "--help"], capture_output=True, text=True).stdout
        return option in help_text

    def ports(self):
        return [os.path.join(self.dir, "modem%d" % (k + 1)) for k in range(self.count)]

    def deliver(self, modem, pdu):
        self.proc.stdin.write(("%d %s\n" % (modem, pdu)).encode())
        self.proc.stdin.flush()

    def on_sims(self):
        """Messages stored on the SIMs and not deleted, over the simulator's whole log."""
        text = self._log()
        return len(re.findall(r"^stored ", text, re.M)) - len(re.findall(r"^deleted ", text, re.M))

    def full_sims(self):
        return self._log().count("is full")

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(timeout=20)


def machine_ports():
    """The machine's own serial ports, left alone by every run."""
    names = []
    for prefix in ("ttyS", "ttyUSB", "ttyACM"):
        names += sorted(n for n in os.listdir("/dev") if n.startswith(prefix))
    return names


def write_settings(datadir, modems, db, ports=None, extra=()):
    """settings.ini for the simulated modems and the test database, with a SIM map.

    ports are the links served (the simulator's by default); extra are more
    [General] lines."""
    os.makedirs(datadir, exist_ok=True)
    # Quoted: Qt reads an unquoted value with commas as a list.
    lines = ["[General]", "DEF_SPEED=100",
             'DEF_IGNORE="%s"' % ",".join(machine_ports()),
             'DEF_EXTRA_PORTS="%s"' % ",".join(modems.ports() if ports is None else ports),
             'MYSQL_HOST="%s"' % db.setting("HOST"), "MYSQL_PORT=" + db.setting("PORT"),
             "MYSQL_USER=" + db.setting("USER"), "MYSQL_PWD=" + db.setting("PWD"),
             "MYSQL_DBNAME=" + db.database] + list(extra) + ["[CARD]", "NUM=%d" % modems.count]
    for k in range(modems.count):
        # The simulator's ICCIDs count up from its default one.
        lines += ["SIM_%d=89860012345678%06d" % (k, 900001 + k), "PHN_%d=1390000%04d" % (k, k + 1)]
    with open(os.path.join(datadir, "settings.ini"), "w") as f:
        f.write("\n".join(lines) + "\n")
    os.chmod(os.path.join(datadir, "settings.ini"), 0o600)


class Program:
    """vlsmsd (service) or vlsms (window) on a data directory of its own.

    Logs go to rundir (the programs write comlog-*.txt in their working
    directory); standard error is appended to rundir/program.err."""

    def __init__(self, build, kind, datadir, rundir, env=None):
        name = "vlsmsd" if kind == "service" else "vlsms"
        self.argv = [os.path.join(build, "app", name)]
        if kind == "service":
            self.argv += ["--data-dir", datadir]
        self.env = dict(os.environ, APPDATA=os.path.dirname(datadir), **(env or {}))
        self.rundir = rundir
        self.proc = None
        self.cpu_before = 0.0  # CPU of the instances that are gone
        self.starts = 0

    def start(self):
        os.makedirs(self.rundir, exist_ok=True)
        # One file per run, kept across the restarts within it.
        with open(os.path.join(self.rundir, "program.err"), "a" if self.starts else "w") as err:
            self.proc = subprocess.Popen(self.argv, cwd=self.rundir, env=self.env, stdin=subprocess.DEVNULL,
                                         stdout=err, stderr=err)
        self.starts += 1

    def log_lines(self):
        """The lines the program has written to standard error so far."""
        try:
            with open(os.path.join(self.rundir, "program.err"), errors="replace") as f:
                return f.read().splitlines()
        except OSError:
            return []

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def cpu(self):
        """CPU seconds of every instance so far."""
        return self.cpu_before + (cpu_seconds(self.proc.pid) if self.alive() else 0.0)

    def _end(self, sig, seconds):
        if not self.alive():
            return None
        self.cpu_before += cpu_seconds(self.proc.pid)
        self.proc.send_signal(sig)
        try:
            return self.proc.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return "not ended in %d s" % seconds

    def kill(self):
        return self._end(signal.SIGKILL, 10)

    def stop(self):
        """SIGTERM as a service manager sends it; the exit status, or why none."""
        return self._end(signal.SIGTERM, 20)


class Traffic:
    """Messages with unique texts, "<tag>-<n> <run>", round-robin over the modems."""

    def __init__(self, modems, run_id):
        self.modems = modems
        self.run_id = run_id
        self.sent = {}  # tag -> {text: pdu}
        self.next_modem = 0

    def text(self, tag, n):
        return "%s-%04d %s" % (tag, n, self.run_id)

    def send(self, tag):
        texts = self.sent.setdefault(tag, {})
        text = self.text(tag, len(texts) + 1)
        pdu = makepdus.message(text, "1380013%04d" % random.randrange(10000))[0]
        texts[text] = pdu
        self.send_raw(pdu)
        return text

    def send_raw(self, pdu):
        self.modems.deliver(self.next_modem + 1, pdu)
        self.next_modem = (self.next_modem + 1) % self.modems.count


class Ledger:
    """What arrived in smsserver_in and what the store holds, per tag."""

    def __init__(self, db, traffic, storefile):
        self.db = db
        self.traffic = traffic
        self.storefile = storefile

    def rows(self, tag):
        """text -> number of rows, for the texts of tag; None while the server is away."""
        got = self.db.sql("SELECT text, COUNT(*) FROM smsserver_in WHERE text LIKE '%s-%%' GROUP BY text"
                          % tag, timeout=10)
        if got is None:
            got = self.db.sql("SELECT text, COUNT(*) FROM smsserver_in_away WHERE text LIKE '%s-%%' "
                              "GROUP BY text" % tag, timeout=10)
        return None if got is None else {r[0]: int(r[1]) for r in got if len(r) == 2}

    def stored(self, pdus):
        """How many of pdus the store holds, and how many of those still wait to be forwarded."""
        if not pdus or not os.path.exists(self.storefile):
            return 0, 0
        try:
            con = sqlite3.connect("file:%s?mode=ro" % self.storefile, uri=True, timeout=10)
            marks = ",".join("?" * len(pdus))
            found = con.execute("SELECT hd_flag FROM t_recv WHERE txt_pdu IN (%s)" % marks,
                                list(pdus)).fetchall()
            con.close()
        except sqlite3.Error:
            return None, None
        return len(found), sum(1 for (flag,) in found if flag == 0)
