#!/usr/bin/env python3
"""End-to-end runs of a zolsampler build against zolsim, with the console on
pipes: the answers are typed when their questions appear, the output is
checked line by line, and the files are kept for comparison.

  tests/windows/e2e_run.py --sampler CMD --links DIR --zolsim EXE --work DIR SCENARIO

CMD is the sampler's command (e.g. "wine build-windows/zolsampler.exe");
DIR is where the simulator's links go as com1 and com2 (a wine prefix's
dosdevices, or any directory, which is then passed through ZOLSAMPLER_COM<n>).
SCENARIO is ctd, no-ctd, missing-port, unplug (the ZOL's device taken away
and brought back), compare or idle. With --zolctl CMD, the no-ctd run also
listens on a control pipe: zolctl asks it for the status and a sample and
follows its console meanwhile.
Exit status 0 when every check held.
"""
import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import threading
import time

CYCLE_S = 60
PACKED_HEX = re.compile("[0-9A-F]{32,}")


class Failed(Exception):
    pass


class Console:
    """A program whose standard input and output are pipes."""

    def __init__(self, args, cwd, env):
        self.proc = subprocess.Popen(args, cwd=cwd, env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.out = bytearray()
        self.mark = 0
        self.ended = False
        self.cv = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        while True:
            chunk = self.proc.stdout.read1(4096)
            if not chunk:
                with self.cv:
                    self.ended = True
                    self.cv.notify_all()
                return
            with self.cv:
                self.out += chunk
                self.cv.notify_all()

    def expect(self, text, timeout):
        """Waits for `text` after what was expected before."""
        needle = text.encode()
        deadline = time.monotonic() + timeout
        with self.cv:
            while True:
                at = self.out.find(needle, self.mark)
                if at >= 0:
                    self.mark = at + len(needle)
                    return
                left = deadline - time.monotonic()
                if left <= 0 or self.ended:
                    raise Failed("no %r in the console within %ds" % (text, timeout))
                self.cv.wait(left)

    def type(self, keys):
        self.proc.stdin.write(keys.encode())
        self.proc.stdin.flush()

    def answer(self, question, keys, timeout=30):
        self.expect(question, timeout)
        self.type(keys)

    def text(self):
        with self.cv:
            return bytes(self.out)


def check(condition, what):
    if not condition:
        raise Failed(what)


def start_sim(zolsim, links, with_ctd, measure_seconds=1, faults=()):
    args = [zolsim, "--zol-link", os.path.join(links, "com1"), "--seed", "7",
            "--measure-seconds", str(measure_seconds)] + list(faults)
    args += ["--ctd-link", os.path.join(links, "com2")] if with_ctd else ["--no-ctd"]
    sim = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    for _ in range(2 if with_ctd else 1):
        check(sim.stdout.readline().startswith(b"ZOLSAMPLER_COM"), "zolsim did not start")
    return sim


def sampler_env(links, windows):
    env = dict(os.environ, TZ="UTC")
    if not windows:
        env["ZOLSAMPLER_COM1"] = os.path.join(links, "com1")
        env["ZOLSAMPLER_COM2"] = os.path.join(links, "com2")
    return env


def answer_dialogue(app, with_ctd):
    app.answer("Enter ZOL Serial Number", "42\r")
    app.answer("Enter ZOL Sample Rate in minutes", "1\r")
    app.answer("Enter ZOL Sample MODE: KIRN=1 PADO=2", "1\r")
    if with_ctd:
        app.answer("CTD pump ON?", "y\r")
    else:
        app.answer("Enter Solution Temperature", "\r")
        app.answer("Enter Solution Salinity", "\r")
    app.answer("Sync ZOL RTC to PC?", "\r", 60)
    app.answer("Sync start of sampling to minute value?", "\r", 60)


def stop_with_ctrl_z(app, eol):
    app.type("\x1a")
    check(app.proc.wait(60) == 0, "status %s after CTRL+Z" % app.proc.returncode)
    check(("Got CTRL+Z - Terminating Sampling Thread" + eol + "Thread Exit Code = 707" + eol)
          .encode() in app.text(), "no orderly stop in the console")


def check_line_ends(data, eol, what):
    if eol == "\r\n":
        check(data.count(b"\n") == data.count(b"\r\n"), "%s has a line end without CR" % what)
    else:
        check(b"\r\n" not in data, "%s has CR LF line ends" % what)


def run_cycles(app, with_ctd, forced):
    answer_dialogue(app, with_ctd)
    app.expect("001, Next Sample, ", CYCLE_S)
    if forced:
        app.type("\x06")
        app.expect("Got CTRL+F - Force Sample", 10)
        app.expect("002, Next Sample, ", CYCLE_S)
        # The second scheduled cycle, a period after the first.
        app.expect("003, Next Sample, ", CYCLE_S + 30)


def run_against_sim(opts, with_ctd, body, faults=(), env=None):
    """Runs body(app) (or body(app, sim) with faults) with the sampler on
    zolsim's ports; the console is saved whatever happens."""
    sim = start_sim(opts.zolsim, opts.links, with_ctd, faults=faults)
    try:
        ports = ["-p", "2", "-b", "9600"] if with_ctd else ["-p", "-1", "-b", "-1"]
        app = Console(shlex.split(opts.sampler) + ["-P", "1", "-B", "9600"] + ports, opts.work,
                      dict(sampler_env(opts.links, opts.windows), **(env or {})))
        try:
            body(app, sim) if faults else body(app)
        finally:
            if app.proc.poll() is None:
                app.proc.kill()
            save_console(opts, app)
    finally:
        sim.terminate()
        sim.wait(10)
    return app


def zolctl(opts, *words, keys=b""):
    done = subprocess.run(shlex.split(opts.zolctl) + list(words), input=keys,
                          capture_output=True, timeout=60)
    return done.returncode, done.stdout.decode(errors="replace")


def start_follower(opts, app):
    """zolctl follow, connected while the dialogue runs: the pipe is there
    before the dialogue, the follow taken once the sampling thread runs."""
    app.expect("Control socket: zolsampler-e2e", 30)
    return subprocess.Popen(shlex.split(opts.zolctl) + ["e2e", "follow"],
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)


def ask_over_control(opts, app):
    """The status and a sample asked with zolctl over the control pipe,
    named by the instance (the sampler was given the bare pipe name)."""
    status, text = zolctl(opts, "e2e", "status")
    check(status == 0 and "ZOL 42 (KIRN), every 1 min: waiting, cycle 1" in text,
          "zolctl status gave %d: %r" % (status, text))
    status, text = zolctl(opts, "e2e", "sample")
    check(status == 0 and "cycle 2: 1 record stored" in text,
          "zolctl sample gave %d: %r" % (status, text))
    app.expect("Control: sample requested by ", 10)
    app.expect("002, Next Sample, ", 10)
    # The terminal opened and closed again by CTRL+K from standard input.
    status, text = zolctl(opts, "e2e", "terminal", keys=b"\x0b")
    check(status == 0, "zolctl terminal gave %d: %r" % (status, text))
    app.expect("Control: ZOL terminal opened by user ", 10)
    app.expect("Control: ZOL terminal closed (CTRL+K)", 10)


def check_follower(follower):
    """The follower saw the sample's cycle and ended with the sampler."""
    text = follower.communicate(timeout=30)[0]
    check(follower.returncode == 0, "zolctl follow ended with %s" % follower.returncode)
    check(b"Control: sample requested by " in text and b"002, Next Sample, " in text,
          "zolctl follow did not see the sample's lines: %r" % text)


def scenario_sampling(opts, with_ctd):
    control = opts.zolctl is not None and not with_ctd

    def body(app):
        follower = start_follower(opts, app) if control else None
        run_cycles(app, with_ctd, forced=with_ctd)
        if control:
            ask_over_control(opts, app)
        stop_with_ctrl_z(app, opts.eol)
        if follower:
            check_follower(follower)

    env = {"ZOLSAMPLER_CONTROL": "zolsampler-e2e"} if control else None
    app = run_against_sim(opts, with_ctd, body, env=env)
    check_line_ends(app.text(), opts.eol, "the console")
    names = ["ZOL0042_KIRN.log", "ZOL0042_KIRN.dat"] + (["ZOL0042_KIRN_2.dat"] if with_ctd else [])
    for name in names:
        with open(os.path.join(opts.work, name), "rb") as f:
            data = f.read()
        check(len(data) > 0, name + " is empty")
        check_line_ends(data, opts.eol, name)


def scenario_missing_port(opts):
    # COM9 is linked nowhere.
    app = Console(shlex.split(opts.sampler) + ["-P", "9", "-B", "9600", "-p", "-1", "-b", "-1"],
                  opts.work, sampler_env(opts.links, opts.windows))
    answer_dialogue_until_ports(app)
    status = app.proc.wait(60)
    save_console(opts, app)
    check(status == 1, "status %s for a missing port" % status)
    eol = opts.eol
    check(("COM port hardware not present" + eol + "(exiting)..." + eol).encode() in app.text(),
          "no message for the missing port")


def scenario_unplug(opts):
    # The first Take Sample takes the ZOL's device away for 3 s (its link
    # removed, the pseudo-terminal closed); zolsim says when it is back.
    def body(app, sim):
        answer_dialogue(app, False)
        app.expect("001, Take Sample ERROR", CYCLE_S)
        app.expect("001, Next Sample, ", CYCLE_S)
        check(sim.stdout.readline().startswith(b"ZOLSAMPLER_COM"), "the device did not return")
        # At once: the cycle must not be lost to the reopening.
        app.type("\x06")
        app.expect("002, Take Sample OK", CYCLE_S)
        app.expect("002, Send Sample OK", CYCLE_S)
        app.expect("002, Next Sample, ", CYCLE_S)
        stop_with_ctrl_z(app, opts.eol)

    run_against_sim(opts, False, body, ["--zol-fault", "vanish:3@TS"])


def answer_dialogue_until_ports(app):
    app.answer("Enter ZOL Serial Number", "42\r")
    app.answer("Enter ZOL Sample Rate in minutes", "1\r")
    app.answer("Enter ZOL Sample MODE: KIRN=1 PADO=2", "1\r")
    app.answer("Enter Solution Temperature", "\r")
    app.answer("Enter Solution Salinity", "\r")


def cpu_ms(pid):
    """User and system time a process has used so far."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000 // os.sysconf("SC_CLK_TCK")


def wineserver_pid():
    """The wine server of this prefix: it works in a directory named after
    the prefix's device and inode."""
    info = os.stat(os.environ["WINEPREFIX"])
    server_dir = "server-%x-%x" % (info.st_dev, info.st_ino)
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink("/proc/%s/cwd" % pid).endswith(server_dir):
                return int(pid)
        except OSError:
            continue
    raise Failed("no wine server for " + os.environ["WINEPREFIX"])


def scenario_idle(opts):
    """CPU used while the sampler awaits a measurement within its 25 s limit
    (ZOL only)."""
    sim = start_sim(opts.zolsim, opts.links, False, measure_seconds=24)
    try:
        app = Console(shlex.split(opts.sampler) + ["-P", "1", "-B", "9600", "-p", "-1", "-b", "-1"],
                      opts.work, sampler_env(opts.links, opts.windows))
        try:
            answer_dialogue(app, False)
            app.expect("001, Sampling KIRN", 60)
            pids = [app.proc.pid] + ([wineserver_pid()] if opts.windows else [])
            time.sleep(2)
            before = [cpu_ms(pid) for pid in pids]
            start = time.monotonic()
            time.sleep(20)
            used = [cpu_ms(pid) - b for pid, b in zip(pids, before)]
            elapsed = time.monotonic() - start
            app.expect("001, Take Sample OK", 30)
            app.expect("001, Next Sample, ", 30)
            stop_with_ctrl_z(app, opts.eol)
        finally:
            if app.proc.poll() is None:
                app.proc.kill()
            save_console(opts, app)
    finally:
        sim.terminate()
        sim.wait(10)
    names = ["sampler"] + (["wineserver"] if opts.windows else [])
    print("idle CPU over %.1f s: %s" % (elapsed, ", ".join(
        "%s %d ms" % (name, ms) for name, ms in zip(names, used))))


def normalised(data):
    """A data file with LF line ends and the clock readings masked. The
    simulator's values drift with time: its packed spectrum (and so the CRC)
    differs in a few digits from run to run, and after the first cycle's
    records (sample counters 1 and 2) only the ID, the counters and the
    number of fields are kept. Two runs of the same seed then give the same
    text."""
    lines = []
    for line in data.replace(b"\r\n", b"\n").decode().split("\n"):
        fields = line.split(", ")
        if line.startswith("CFG,CLOCK,"):
            line = "CFG,CLOCK,<T>"
        elif len(fields) > 10 and fields[1].startswith("ZOL"):
            # CRC, ID, DATE TIME, UTC SECS: the CRC covers the time.
            kept = fields[4:] if fields[7] in ("1", "2") else fields[7:11] + [str(len(fields))]
            kept = ["<HEX>" if PACKED_HEX.fullmatch(field) else field for field in kept]
            line = ", ".join(["<CRC>", fields[1], "<T>", "<T>"] + kept)
        lines.append(line)
    return "\n".join(lines)


def compare(opts):
    for name in ["ZOL0042_KIRN.dat", "ZOL0042_KIRN_2.dat"]:
        texts = []
        for work in (opts.work, opts.compare):
            with open(os.path.join(work, "ctd", name), "rb") as f:
                texts.append(normalised(f.read()))
        check(texts[0] == texts[1], "%s differs between %s and %s" % (name, opts.work, opts.compare))


def save_console(opts, app):
    with open(os.path.join(opts.work, "console.txt"), "wb") as f:
        f.write(app.text())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sampler", required=True)
    parser.add_argument("--links", required=True)
    parser.add_argument("--zolsim", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--windows", action="store_true",
                        help="the links are a wine prefix's dosdevices; CR LF line ends")
    parser.add_argument("--zolctl", metavar="CMD", help="no-ctd: zolctl's command")
    parser.add_argument("--compare", metavar="WORK",
                        help="compare: the work directory of the other build's ctd run")
    parser.add_argument("scenario", choices=["ctd", "no-ctd", "missing-port", "unplug", "compare",
                                             "idle"])
    opts = parser.parse_args()
    opts.eol = "\r\n" if opts.windows else "\n"
    if opts.scenario != "compare":
        opts.work = os.path.join(opts.work, opts.scenario)
        shutil.rmtree(opts.work, ignore_errors=True)
        os.makedirs(opts.work)
    try:
        if opts.scenario == "missing-port":
            scenario_missing_port(opts)
        elif opts.scenario == "compare":
            compare(opts)
        elif opts.scenario == "idle":
            scenario_idle(opts)
        elif opts.scenario == "unplug":
            scenario_unplug(opts)
        else:
            scenario_sampling(opts, opts.scenario == "ctd")
    except (Failed, subprocess.TimeoutExpired) as failure:
        print("FAILED %s: %s (console in %s/console.txt)" % (opts.scenario, failure, opts.work))
        return 1
    print("passed %s" % opts.scenario)
    return 0


if __name__ == "__main__":
    sys.exit(main())
