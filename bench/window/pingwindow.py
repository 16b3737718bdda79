#!/usr/bin/python3
"""How quickly the window answers the window manager while the road is in trouble.

    bench/window/run.sh [--freeze 60] [--lock 30] [--modems 4]

Starts Xvfb, a private MariaDB and simulated modems, runs the real window
program on that display, and sends its top-level window a _NET_WM_PING every
100 ms from a thread of its own. Qt answers a ping from the GUI thread's event
loop by sending the message back to the root window, so the round trip is how
long the window's thread was unable to react. Meanwhile, with messages
arriving: the MariaDB server is frozen (SIGSTOP, then SIGCONT), and later
another process holds the write lock of sms-r.db (BEGIN IMMEDIATE, sleep,
ROLLBACK). Prints the ping round trip (max, p99, p50) of every phase and
whether the messages sent during each fault, and a few sent after it, arrived.
Needs the Debian packages xvfb and python3-xlib.
"""
import argparse
import os
import select
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import realrun  # noqa: E402
from realrun import log, wait_until  # noqa: E402

from Xlib import X, display, protocol  # noqa: E402

PING_PERIOD = 0.1
MESSAGE_PERIOD = 2.0    # one message every this many seconds during a phase
RECOVERY_SECONDS = 90   # the most the messages of a fault are waited for afterwards


def start_xvfb(logfile):
    """Xvfb on a free display number; returns (process, ":N")."""
    read_end, write_end = os.pipe()
    with open(logfile, "w") as err:
        proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24",
                                 "-nolisten", "tcp"], pass_fds=[write_end], stdout=err, stderr=err,
                                start_new_session=True)
    os.close(write_end)
    # The number arrives with its line feed once the server is ready; the pipe
    # stays open until then, or Xvfb fails on a broken pipe.
    number = b""
    deadline = time.monotonic() + 30
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        if select.select([read_end], [], [], 1)[0]:
            chunk = os.read(read_end, 32)
            if not chunk:
                break
            number += chunk
    os.close(read_end)
    number = number.strip()
    if not number:
        proc.kill()
        raise RuntimeError("Xvfb did not start; see " + logfile)
    return proc, ":" + number.decode()


def find_window(dpy, pid):
    """The mapped top-level window of process pid that takes _NET_WM_PING, or None."""
    pid_atom = dpy.intern_atom("_NET_WM_PID")
    ping = dpy.intern_atom("_NET_WM_PING")
    for win in dpy.screen().root.query_tree().children:
        try:
            owner = win.get_full_property(pid_atom, X.AnyPropertyType)
            if not owner or owner.value[0] != pid:
                continue
            if win.get_attributes().map_state != X.IsViewable:
                continue
            if ping in (win.get_wm_protocols() or []):
                return win
        except Exception:  # a window that went away while we looked
            continue
    return None


class Pinger(threading.Thread):
    """Pings the window every PING_PERIOD on a connection of its own; each round
    trip is booked to the phase that was current when the ping went out."""

    def __init__(self, display_name, window_id):
        super().__init__(daemon=True)
        self.dpy = display.Display(display_name)
        self.root = self.dpy.screen().root
        self.window = self.dpy.create_resource_object("window", window_id)
        self.protocols = self.dpy.intern_atom("WM_PROTOCOLS")
        self.ping = self.dpy.intern_atom("_NET_WM_PING")
        # Qt sends its answer to the root window for StructureNotify listeners.
        self.root.change_attributes(event_mask=X.StructureNotifyMask)
        self.phase = "start"
        self.sent = {}     # sequence -> (phase, time sent)
        self.rounds = {}   # phase -> [round trip seconds]
        self.stopping = threading.Event()

    def run(self):
        seq = 0
        next_ping = time.monotonic()
        while not self.stopping.is_set():
            now = time.monotonic()
            if now >= next_ping:
                seq += 1
                self._send(seq)
                next_ping += PING_PERIOD
            select.select([self.dpy.fileno()], [], [], max(0.0, next_ping - time.monotonic()))
            self._collect()

    def _send(self, seq):
        event = protocol.event.ClientMessage(window=self.window, client_type=self.protocols,
                                             data=(32, [self.ping, seq, self.window.id, 0, 0]))
        self.sent[seq] = (self.phase, time.monotonic())
        self.window.send_event(event, event_mask=0)
        self.dpy.flush()

    def _collect(self):
        while self.dpy.pending_events():
            event = self.dpy.next_event()
            if event.type != X.ClientMessage or event.window.id != self.root.id:
                continue
            fields = event.data[1]
            if fields[0] != self.ping or fields[1] not in self.sent:
                continue
            phase, sent = self.sent.pop(fields[1])
            self.rounds.setdefault(phase, []).append(time.monotonic() - sent)

    def stop(self):
        """Ends the pings; one never answered counts as its age when the run ended."""
        self.stopping.set()
        self.join(5)
        now = time.monotonic()
        unanswered = {}
        for phase, sent in self.sent.values():
            self.rounds.setdefault(phase, []).append(now - sent)
            unanswered[phase] = unanswered.get(phase, 0) + 1
        return unanswered


class Bench:
    """The programs of one measurement and the messages sent in each phase."""

    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.work)
        self.datadir = os.path.join(self.work, "appdata", "VLSMS")
        self.db = realrun.MariaDb(self.work, "vlsms_window_bench")
        self.modems = realrun.Modems(args.build, self.work, args.modems)
        self.traffic = realrun.Traffic(self.modems, "w%d" % int(time.time()))
        self.ledger = realrun.Ledger(self.db, self.traffic, os.path.join(self.datadir, "sms-r.db"))
        self.xvfb = self.program = self.pinger = None
        self.messages = []  # (fault, sent during it, arrived, sent after it, arrived)

    def setup(self):
        os.makedirs(self.work, exist_ok=True)
        self.xvfb, name = start_xvfb(os.path.join(self.work, "xvfb.log"))
        self.db.start()
        self.modems.start()
        realrun.write_settings(self.datadir, self.modems, self.db)
        self.program = realrun.Program(self.args.build, "window", self.datadir, os.path.join(self.work, "run"),
                                       env={"DISPLAY": name, "QT_QPA_PLATFORM": "xcb"})
        self.program.start()
        dpy = display.Display(name)
        window = wait_until(lambda: find_window(dpy, self.program.proc.pid), 30, step=0.5)
        if window is None:
            raise RuntimeError("the window of pid %d did not appear" % self.program.proc.pid)
        log("window 0x%x of pid %d on %s" % (window.id, self.program.proc.pid, name))
        self.pinger = Pinger(name, window.id)
        self.pinger.start()

    def teardown(self):
        if self.pinger is not None and self.pinger.is_alive():
            self.pinger.stop()
        if self.program is not None:
            self.program.stop()
        self.modems.stop()
        self.db.stop()
        if self.xvfb is not None:
            self.xvfb.terminate()
            self.xvfb.wait(10)

    def hold(self, phase, seconds):
        """A phase of seconds with a message every MESSAGE_PERIOD."""
        self.pinger.phase = phase
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.traffic.send(phase.split()[0])
            time.sleep(min(MESSAGE_PERIOD, max(0.0, end - time.monotonic())))

    def arrived(self, tag):
        rows = self.ledger.rows(tag) or {}
        return sum(1 for text in self.traffic.sent.get(tag, {}) if text in rows)

    def recover(self, fault):
        """After a fault: waits for its messages, then sends three more and waits for them."""
        tag, after = fault.split()[0], fault.split()[0] + "-after"
        self.pinger.phase = "after " + fault
        sent = len(self.traffic.sent.get(tag, {}))
        wait_until(lambda: self.arrived(tag) >= sent, RECOVERY_SECONDS, step=1)
        for _ in range(3):
            self.traffic.send(after)
        wait_until(lambda: self.arrived(after) >= 3, RECOVERY_SECONDS, step=1)
        self.messages.append((fault, sent, self.arrived(tag), 3, self.arrived(after)))


def freeze_mysql(bench, seconds):
    fault = "mysql frozen %d s" % seconds
    log(fault)
    bench.db.signal(signal.SIGSTOP)
    try:
        bench.hold(fault, seconds)
    finally:
        bench.db.signal(signal.SIGCONT)
    bench.recover(fault)


def lock_store(bench, seconds):
    fault = "store locked %d s" % seconds
    log(fault)
    # Another process takes the write lock, as a backup or an inspection tool would.
    holder = subprocess.Popen([sys.executable, "-c", (
        "import sqlite3, sys, time\n"
        "c = sqlite3.connect(sys.argv[1], timeout=20, isolation_level=None)\n"
        "c.execute('BEGIN IMMEDIATE'); print('locked', flush=True)\n"
        "time.sleep(float(sys.argv[2])); c.execute('ROLLBACK')\n"), bench.ledger.storefile, str(seconds)],
        stdout=subprocess.PIPE, text=True)
    if holder.stdout.readline().strip() != "locked":
        raise RuntimeError("the write lock of sms-r.db could not be taken")
    bench.hold(fault, seconds)
    holder.wait(30)
    bench.recover(fault)


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def report(bench, unanswered):
    print("%-26s %6s %9s %9s %9s %11s" % ("phase", "pings", "max ms", "p99 ms", "p50 ms", "unanswered"))
    for phase, rounds in bench.pinger.rounds.items():
        if phase == "start":
            continue
        print("%-26s %6d %9.1f %9.1f %9.1f %11d" % (
            phase, len(rounds), 1000 * max(rounds), 1000 * percentile(rounds, 0.99),
            1000 * percentile(rounds, 0.5), unanswered.get(phase, 0)))
    for fault, sent, arrived, sent_after, arrived_after in bench.messages:
        print("%s: %d of %d messages sent during it arrived; %d of %d sent after it arrived"
              % (fault, arrived, sent, arrived_after, sent_after))
    print("window program: %.1f s CPU; alive at the end: %s"
          % (bench.program.cpu(), "yes" if bench.program.alive() else "NO"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.environ.get("VLSMS_BUILD_DIR", os.path.join(realrun.ROOT, "build")))
    parser.add_argument("--work", help="run directory (default BUILD/window-bench)")
    parser.add_argument("--modems", type=int, default=4)
    parser.add_argument("--baseline", type=int, default=20)
    parser.add_argument("--freeze", type=int, default=60)
    parser.add_argument("--lock", type=int, default=30)
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.work = args.work or os.path.join(args.build, "window-bench")
    bench = Bench(args)
    try:
        bench.setup()
        wait_until(lambda: os.path.exists(bench.ledger.storefile), 30)
        bench.hold("baseline", args.baseline)
        freeze_mysql(bench, args.freeze)
        lock_store(bench, args.lock)
        unanswered = bench.pinger.stop()
        report(bench, unanswered)
    finally:
        bench.teardown()


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    main()
