#!/usr/bin/env python3
"""The fault run: the real program under traffic from simulated modems, against
a private MariaDB, with faults injected one after another.

    tools/faults.sh [--program service|window] [--only NAME,...] [--modems N]

Faults, in order: none (the baseline), the table smsserver_in renamed for 40 s,
a write lock held on it for 40 s, the server killed and restarted, the data
directory on a full file system for 40 s (a tmpfs mounted on it; needs root
and a mount that works), another process holding the write lock of the store
sms-r.db for 30 s, 10 SIGKILLs of the program at random moments (each
followed by a restart), and from the modems: undecodable PDUs, unsolicited
lines inside answers and NUL bytes inside answers (the last two only when the
simulator offers the options named in MODEM_LINE_FAULTS).

Every message has a unique text, "<fault>-<n> <run>", so that missing and
repeated rows can be counted in smsserver_in. After each fault the run waits
(at most DRAIN_SECONDS) until the SIMs are empty and every message arrived or
the store has nothing left to forward, then prints one line: sent, arrived,
missing, duplicate rows, wiped from a SIM unread (deleted from the SIM but not
in the store), left on the SIMs, junk rows, the longest gap between two ticks
of the program's controller and between two rewrites of its status.json
(both watched in the file from the fault's start, after what sets it up,
until its messages settled),
the seconds from the fault's end to the last of its messages stored, the
program's CPU seconds during the fault and whether it is alive. At the end:
the program's CPU time and how SIGTERM ended it. Bounded loops only; the server and the modems are on this
machine, the server on a loopback address.
"""
import argparse
import json
import os
import random
import signal
import sqlite3
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import realrun  # noqa: E402
from realrun import log, wait_until  # noqa: E402

HOLD_SECONDS = 40        # how long a held fault lasts
STORE_LOCK_SECONDS = 30  # how long another process holds the store's write lock
MESSAGES_PER_HOLD = 26   # messages sent while it lasts
DRAIN_SECONDS = 120      # the most a fault's messages are waited for afterwards
SIGKILLS = 10

# Faults of the modems' lines, given to the simulator at its start: fault ->
# the simulator's arguments. "--unsolicited-in-answer LINE" slips LINE into
# every answer before its final result code; "--noise HEX" slips those bytes
# into every answer. A fault whose option the simulator does not list in its
# --help is reported as skipped; this table is the one place to wire new ones.
MODEM_LINE_FAULTS = {
    "unsolicited": ["--unsolicited-in-answer", "+CPIN: NOT READY"],
    "nul": ["--noise", "00"],
}


class Skip(Exception):
    """A fault this machine or this simulator cannot inject."""


class Run:
    """Everything one fault run holds: server, modems, program, traffic, results."""

    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.work)
        self.datadir = os.path.join(self.work, "appdata", "VLSMS")
        self.run_id = "r%d" % int(time.time())
        self.db = realrun.MariaDb(self.work, "vlsms_faults")
        self.modems = realrun.Modems(args.build, self.work, args.modems)
        self.program = realrun.Program(args.build, args.program, self.datadir, os.path.join(self.work, "run"),
                                       env={"QT_QPA_PLATFORM": "offscreen"})
        self.traffic = realrun.Traffic(self.modems, self.run_id)
        self.ledger = realrun.Ledger(self.db, self.traffic, os.path.join(self.datadir, "sms-r.db"))
        self.tmpfs = None  # why the full-disk fault cannot run, or None when it can
        self.results = []

    def setup(self):
        os.makedirs(self.work, exist_ok=True)
        log("starting the test MariaDB under %s" % self.db.dir)
        self.db.start()
        self.tmpfs = mount_tmpfs(self.datadir)
        self.modems.start()
        realrun.write_settings(self.datadir, self.modems, self.db)
        self.program.start()
        log("program started: %s; modems: %s" % (" ".join(self.program.argv), self.modems.dir))

    def teardown(self):
        status = self.program.stop()
        self.modems.stop()
        if self.tmpfs is None:
            subprocess.run(["umount", self.datadir], check=False)
        if not self.args.keep_server:
            self.db.stop()
        return status


def mount_tmpfs(datadir):
    """Puts the data directory on a small tmpfs; None on success, else the reason."""
    os.makedirs(datadir, exist_ok=True)
    if os.geteuid() != 0:
        return "not root: no file system can be mounted"
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64m,mode=0700", "tmpfs", datadir],
                          capture_output=True, text=True)
    if done.returncode != 0:
        return "mount failed: " + done.stderr.strip()
    return None


def fill(path):
    """Writes path until the file system is full; returns the bytes written."""
    written = 0
    with open(path, "wb", buffering=0) as f:
        for chunk in (1 << 20, 1 << 12, 1):
            block = b"\0" * chunk
            try:
                while written < (1 << 31):
                    written += f.write(block)
            except OSError:
                pass
    return written


def hold_traffic(run, tag, seconds, count, events=()):
    """Sends count messages evenly over seconds, running each (at, action) when due."""
    start = time.monotonic()
    pending = sorted(events, key=lambda e: e[0])
    for n in range(count):
        due = start + seconds * (n + 0.5) / count
        while pending and pending[0][0] + start <= due:
            at, action = pending.pop(0)
            time.sleep(max(0.0, start + at - time.monotonic()))
            action()
        time.sleep(max(0.0, due - time.monotonic()))
        run.traffic.send(tag)
    for at, action in pending:
        time.sleep(max(0.0, start + at - time.monotonic()))
        action()
    time.sleep(max(0.0, start + seconds - time.monotonic()))


def drained(run, tag):
    """True once the SIMs are empty and the fault's messages arrived or wait no more."""
    if run.modems.on_sims() > 0:
        return False
    sent = run.traffic.sent.get(tag, {})
    rows = run.ledger.rows(tag)
    if rows is not None and all(text in rows for text in sent):
        return True
    _, waiting = run.ledger.stored(list(sent.values()))
    return waiting == 0


def measure(run, tag, junk_since=None):
    """The fault's figures, from smsserver_in, the store and the simulator's log."""
    sent = run.traffic.sent.get(tag, {})
    rows = run.ledger.rows(tag) or {}
    arrived = sum(1 for text in sent if text in rows)
    stored, _ = run.ledger.stored(list(sent.values()))
    on_sims = max(0, run.modems.on_sims())
    not_stored = len(sent) - (stored or 0)
    figures = {"sent": len(sent), "arrived": arrived, "missing": len(sent) - arrived,
               "dups": sum(n - 1 for text, n in rows.items() if text in sent),
               "wiped": max(0, not_stored - on_sims) if stored is not None else "?",
               "on_sim": on_sims, "junk": "-"}
    if junk_since is not None:
        figures["junk"] = junk_rows(run, junk_since)
    return figures


def junk_rows(run, since):
    """Rows after id since whose text is none of the texts sent."""
    got = run.db.sql("SELECT HEX(text) FROM smsserver_in WHERE id > %d" % since)
    if got is None:
        return "?"
    texts = set()
    for sent in run.traffic.sent.values():
        texts.update(sent)
    return sum(1 for (h,) in got if bytes.fromhex(h).decode("utf-8", "replace") not in texts)


def max_id(run):
    got = run.db.sql("SELECT COALESCE(MAX(id), 0) FROM smsserver_in")
    return int(got[0][0]) if got else 0


class StatusWatch:
    """Watches status.json from a thread of its own: when the file was rewritten
    and when the controller's tick count moved, as the program wrote them."""

    def __init__(self, path):
        self.path = path
        self.rewrites = []  # monotonic times of the rewrites seen
        self.ticks = []     # (monotonic time, tick count) whenever the count moved
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._watch, daemon=True)

    def start(self):
        self.thread.start()

    def stop(self):
        self.stopping.set()
        self.thread.join(timeout=10)

    def _watch(self):
        seen = None
        while not self.stopping.wait(0.1):
            try:
                stamp = os.stat(self.path).st_mtime_ns
                if stamp == seen:
                    continue
                with open(self.path) as f:
                    tick = json.load(f).get("tick")
            except (OSError, ValueError):
                continue
            seen = stamp
            now = time.monotonic()
            self.rewrites.append(now)
            if isinstance(tick, int) and (not self.ticks or self.ticks[-1][1] != tick):
                self.ticks.append((now, tick))

    def longest_rewrite_gap(self):
        gaps = [b - a for a, b in zip(self.rewrites, self.rewrites[1:])]
        return round(max(gaps), 1) if gaps else "?"

    def longest_tick_gap(self):
        """The longest the tick can have stood still: between two readings k
        ticks apart, the time they took less k - 1 seconds of ticking (a file
        that could not be rewritten for a while still shows, once rewritten,
        how many ticks ran meanwhile). A count that went back is a restart."""
        gaps = []
        for (a, first), (b, second) in zip(self.ticks, self.ticks[1:]):
            moved = second - first
            gaps.append(b - a if moved < 1 else b - a - (moved - 1))
        return round(max(gaps), 1) if gaps else "?"


def stored_after(run, tag, ended_wall):
    """Seconds from the fault's end to the last of its messages stored (0: all before)."""
    pdus = list(run.traffic.sent.get(tag, {}).values())
    if not pdus or not os.path.exists(run.ledger.storefile):
        return "?"
    try:
        con = sqlite3.connect("file:%s?mode=ro" % run.ledger.storefile, uri=True, timeout=10)
        got = con.execute("SELECT MAX(recv_time) FROM t_recv WHERE txt_pdu IN (%s)" % ",".join("?" * len(pdus)),
                          pdus).fetchone()
        con.close()
    except sqlite3.Error:
        return "?"
    if not got or got[0] is None:
        return "?"
    # The store counts seconds from 1600000000.
    return max(0, int(got[0]) + 1600000000 - int(ended_wall))


def run_fault(run, tag, name, begin, end, seconds, count, events=(), junk=False):
    """One fault: begin, traffic while it holds, end, drain, figures. The
    fault's messages have texts that start with tag."""
    log("fault: %s" % name)
    cpu = run.program.cpu()
    logged = len(run.program.log_lines())
    since = max_id(run) if junk else None
    try:
        note = begin() or ""
    except Skip as why:
        log("skipped: %s" % why)
        run.results.append((name, None, str(why)))
        return
    watch = StatusWatch(os.path.join(run.datadir, "status.json"))
    watch.start()
    hold_traffic(run, tag, seconds, count, events)
    note = (end() or note or "")
    ended = time.monotonic()
    ended_wall = time.time()
    wait_until(lambda: drained(run, tag), DRAIN_SECONDS, step=2)
    watch.stop()
    figures = measure(run, tag, since)
    figures["drain_s"] = int(time.monotonic() - ended)
    figures["tick_gap"] = watch.longest_tick_gap()
    figures["file_gap"] = watch.longest_rewrite_gap()
    figures["stored_s"] = stored_after(run, tag, ended_wall)
    figures["cpu_s"] = round(run.program.cpu() - cpu, 1)
    figures["alive"] = "yes" if run.program.alive() else "NO"
    figures["log"] = len(run.program.log_lines()) - logged
    run.results.append((name, figures, note))
    log("%s: %s" % (name, figures))


def fault_baseline(run):
    run_fault(run, "baseline", "none (baseline)", lambda: None, lambda: None, 20, 13)


def fault_renamed(run):
    def begin():
        if run.db.sql("RENAME TABLE smsserver_in TO smsserver_in_away") is None:
            raise Skip("the table could not be renamed")

    def end():
        if run.db.sql("RENAME TABLE smsserver_in_away TO smsserver_in") is None:
            return "the table could not be renamed back"
        return None
    run_fault(run, "renamed", "renamed table for %d s" % HOLD_SECONDS, begin, end, HOLD_SECONDS,
              MESSAGES_PER_HOLD)


def fault_locked(run):
    session = []

    def begin():
        # One session holds the lock for the whole fault; it ends by itself.
        session.append(run.db.held_session("LOCK TABLES smsserver_in WRITE; SELECT SLEEP(%d); UNLOCK TABLES;"
                                           % HOLD_SECONDS))
        time.sleep(1)

    def end():
        session[0].wait(timeout=60)
    run_fault(run, "locked", "locked table for %d s" % HOLD_SECONDS, begin, end, HOLD_SECONDS,
              MESSAGES_PER_HOLD)


def fault_server_killed(run):
    def kill():
        log("  SIGKILL to the server")
        run.db.kill_and_wait()

    def restart():
        log("  restarting the server")
        if not run.db.restart():
            log("  the server did not come back")
    events = [(random.uniform(5, 15), kill), (20, restart)]
    run_fault(run, "server", "killed server", lambda: None, lambda: None, HOLD_SECONDS, MESSAGES_PER_HOLD,
              events)


def fault_full_disk(run):
    filler = os.path.join(run.datadir, "filler")

    def begin():
        if run.tmpfs is not None:
            raise Skip("full file system: " + run.tmpfs)
        # A clean stop checkpoints and removes the store's write-ahead log; a
        # log that has grown before reuses its own space and never meets a
        # full disk.
        status = run.program.stop()
        run.program.start()
        time.sleep(5)
        wal = os.path.getsize(run.ledger.storefile + "-wal") if os.path.exists(run.ledger.storefile + "-wal") else 0
        return "restarted before (SIGTERM: %s), write-ahead log %d KiB, filled with %d MiB" % (
            status, wal >> 10, fill(filler) >> 20)

    def end():
        os.remove(filler)
    run_fault(run, "disk", "full disk for %d s" % HOLD_SECONDS, begin, end, HOLD_SECONDS, MESSAGES_PER_HOLD)


# Holds the write lock of the store as another program would (a backup tool,
# sqlite3 by hand), for a number of seconds, then lets it go untouched.
STORE_LOCKER = """
import sqlite3, sys, time
con = sqlite3.connect(sys.argv[1], timeout=30, isolation_level=None)
con.execute("BEGIN IMMEDIATE")
print("locked", flush=True)
time.sleep(float(sys.argv[2]))
con.execute("ROLLBACK")
"""


def fault_store_lock(run):
    holder = []

    def begin():
        proc = subprocess.Popen([sys.executable, "-c", STORE_LOCKER, run.ledger.storefile, str(STORE_LOCK_SECONDS)],
                                stdout=subprocess.PIPE, text=True)
        holder.append(proc)
        if proc.stdout.readline().strip() != "locked":
            raise Skip("the store's write lock could not be taken")

    def end():
        holder[0].wait(timeout=STORE_LOCK_SECONDS + 30)
        return "write lock of sms-r.db held by another process (exit %s)" % holder[0].returncode
    run_fault(run, "storelock", "store locked for %d s" % STORE_LOCK_SECONDS, begin, end, STORE_LOCK_SECONDS,
              MESSAGES_PER_HOLD * STORE_LOCK_SECONDS // HOLD_SECONDS)


def fault_sigkills(run):
    results = []

    def kill_and_restart():
        results.append(run.program.kill())
        time.sleep(0.5)
        run.program.start()
    moments = sorted(random.uniform(1, 59) for _ in range(SIGKILLS))
    run_fault(run, "sigkill", "%d SIGKILLs of the program" % SIGKILLS, lambda: None,
              lambda: "%d killed, %d restarted" % (sum(1 for r in results if r == -signal.SIGKILL), len(results)),
              60, 40, [(at, kill_and_restart) for at in moments])


def junk_pdus(run, n):
    """Undecodable PDUs, each unique: a non-hex character, a cut PDU, a length past its data."""
    text = run.traffic.text("junk", n)
    good = realrun.makepdus.message(text, "13800138000")[0]
    seps = realrun.makepdus.septets(text)
    long_udl = realrun.makepdus.deliver("13800138000", 0x00, len(seps) + 60,
                                        realrun.makepdus.pack(seps, 0).hex().upper(), False)
    return {"non-hex": good[:30] + "ZZ" + good[32:], "cut": good[:len(good) // 2], "long length": long_udl}


def fault_undecodable(run):
    junk = {}  # kind -> PDUs

    def send_junk(n):
        for kind, pdu in junk_pdus(run, n).items():
            junk.setdefault(kind, []).append(pdu)
            run.traffic.send_raw(pdu)

    def end():
        wait_until(lambda: run.modems.on_sims() <= 0, DRAIN_SECONDS, step=2)
        kept = ["%s %s/%d" % (kind, run.ledger.stored(pdus)[0], len(pdus)) for kind, pdus in junk.items()]
        return "undecodable PDUs kept in the store: " + ", ".join(kept)
    events = [(2 + 4 * n, lambda n=n: send_junk(n)) for n in range(4)]
    run_fault(run, "undecodable", "undecodable PDUs", lambda: None, end, 20, 13, events, junk=True)


def fault_modem_lines(run, name):
    """Restarts the simulator with a line fault, sends traffic, restarts it plain.

    The SIMs are empty when it starts (every earlier fault drained). Messages
    the program has not taken off the SIMs DRAIN_SECONDS after the traffic
    go with the simulator's restart; they are counted as left on the SIMs."""
    option = MODEM_LINE_FAULTS[name]

    def begin():
        if not run.modems.supports(option[0]):
            raise Skip("the simulator has no %s option (see MODEM_LINE_FAULTS)" % option[0])
        run.modems.stop()
        run.modems.extra_args = option
        run.modems.start()

    def end():
        # Wait for the SIMs to empty under the fault before taking it away.
        wait_until(lambda: run.modems.on_sims() <= 0, DRAIN_SECONDS, step=2)
        run.modems.stop()
        run.modems.extra_args = []
        run.modems.start()
    run_fault(run, name, "%s in answers" % name, begin, end, 20, 13)


FAULTS = {
    "baseline": fault_baseline,
    "renamed": fault_renamed,
    "locked": fault_locked,
    "server": fault_server_killed,
    "disk": fault_full_disk,
    "storelock": fault_store_lock,
    "sigkill": fault_sigkills,
    "undecodable": fault_undecodable,
    "unsolicited": lambda run: fault_modem_lines(run, "unsolicited"),
    "nul": lambda run: fault_modem_lines(run, "nul"),
}


def report(run, status, seconds):
    columns = ["sent", "arrived", "missing", "dups", "wiped", "on_sim", "junk", "tick_gap", "file_gap", "stored_s",
               "drain_s", "cpu_s", "alive", "log"]
    print("%-28s" % "fault" + "".join("%9s" % c for c in columns) + "  note")
    for name, figures, note in run.results:
        if figures is None:
            print("%-28s  skipped: %s" % (name, note))
            continue
        print("%-28s" % name + "".join("%9s" % figures[c] for c in columns) + ("  " + note if note else ""))
    print("program: %s, %.1f s CPU in %d s, %d start(s); SIGTERM at the end: %s"
          % (" ".join(os.path.basename(a) for a in run.program.argv[:1]), run.program.cpu_before, seconds,
             run.program.starts, "exit status %s" % status if isinstance(status, int) else status))
    print("columns: wiped = deleted from a SIM but never in the store; on_sim = left on the SIMs; "
          "junk = rows that are no sent text; tick_gap, file_gap = the longest seconds between two ticks of the "
          "controller and between two rewrites of status.json; stored_s = seconds from the fault's end to the "
          "last of its messages stored; drain_s = seconds until the fault's messages settled; "
          "log = lines the program logged meanwhile (see %s)" % os.path.join(run.program.rundir, "program.err"))


def parse_args():
    root = realrun.ROOT
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.environ.get("VLSMS_BUILD_DIR", os.path.join(root, "build")))
    parser.add_argument("--work", help="run directory (default BUILD/faults)")
    parser.add_argument("--program", choices=["service", "window"], default="service")
    parser.add_argument("--modems", type=int, default=4)
    parser.add_argument("--only", help="comma-separated faults: " + ",".join(FAULTS))
    parser.add_argument("--keep-server", action="store_true", help="leave the MariaDB running")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.work = args.work or os.path.join(args.build, "faults")
    args.only = args.only.split(",") if args.only else list(FAULTS)
    unknown = [f for f in args.only if f not in FAULTS]
    if unknown:
        parser.error("unknown fault: " + ",".join(unknown))
    return args


def main():
    args = parse_args()
    run = Run(args)
    started = time.monotonic()
    status = None
    try:
        run.setup()
        wait_until(lambda: os.path.exists(run.ledger.storefile), 30)
        for name in args.only:
            FAULTS[name](run)
    finally:
        status = run.teardown()
    report(run, status, time.monotonic() - started)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    main()
