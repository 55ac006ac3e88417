#!/usr/bin/env python3
"""zolsampler.exe under wine on a real console (wine's, drawn on a
pseudo-terminal) against zolsim: keys typed as a terminal sends them reach
the key reader through the console, not a pipe.

  tests/windows/console_keys_run.py --sampler CMD --links DIR --zolsim EXE --work DIR

The serial number is typed with a slip corrected by Backspace, the sample
mode with a cursor key before it; both answers must be the ones used (the
file names and "Waking ZOL 0042") and the screen must show them as typed,
with no trace of the cursor key. CTRL+Z at the command loop must end the
program with status 0. Exit status 0 when every check held.
"""
import argparse
import fcntl
import os
import re
import select
import shlex
import shutil
import subprocess
import sys
import termios
import time

from e2e_run import CYCLE_S, Failed, check, start_sim

# What a terminal sends for these keys.
BACKSPACE = "\x7f"
CURSOR_LEFT = "\x1b[D"
CTRL_Z = "\x1a"
# Wine draws its screen with these: cursor moves and placements, erasing,
# modes, titles.
CSI = re.compile(rb"\x1b\[([0-9;?]*)([A-Za-z@])")
OSC = re.compile(rb"\x1b\][^\x07\x1b]*(\x07|\x1b\\)")


class Screen:
    """Enough of a terminal to read back what wine drew: rows of text with
    the cursor moves and erasures applied, so a Backspace echoed as a cursor
    move shows as the corrected text."""

    def __init__(self):
        self.rows = {}
        self.row = 0
        self.col = 0

    def _put(self, char):
        line = self.rows.setdefault(self.row, [])
        line.extend(" " * (self.col + 1 - len(line)))
        line[self.col] = char
        self.col += 1

    def _control(self, params, final):
        numbers = [int(p) if p.isdigit() else 0 for p in params.lstrip("?").split(";")]
        n = max(numbers[0], 1)
        line = self.rows.setdefault(self.row, [])
        if final in "Hf":
            self.row = max(numbers[0], 1) - 1
            self.col = max(numbers[1] if len(numbers) > 1 else 1, 1) - 1
        elif final == "C":
            self.col += n
        elif final == "D":
            self.col = max(self.col - n, 0)
        elif final == "A":
            self.row = max(self.row - n, 0)
        elif final == "B":
            self.row += n
        elif final == "G":
            self.col = n - 1
        elif final == "K":
            if numbers[0] == 0:
                del line[self.col:]
            else:
                self.rows[self.row] = [] if numbers[0] == 2 else [" "] * self.col + line[self.col:]
        elif final == "J" and numbers[0] == 2:
            self.rows = {}
        # Modes (h, l, m) and the rest do not change the text.

    def feed(self, data):
        at = 0
        while at < len(data):
            byte = data[at]
            if byte == 0x1B:
                osc = OSC.match(data, at)
                if osc:
                    at = osc.end()
                    continue
                csi = CSI.match(data, at)
                if csi:
                    self._control(csi.group(1).decode(), csi.group(2).decode())
                    at = csi.end()
                    continue
            elif byte == 0x08:
                self.col = max(self.col - 1, 0)
            elif byte == 0x0D:
                self.col = 0
            elif byte == 0x0A:
                self.row += 1
            elif byte >= 0x20:
                self._put(chr(byte))
            at += 1

    def text(self):
        return "\n".join("".join(self.rows[r]).rstrip() for r in sorted(self.rows))


def take_terminal():
    """In the child: its terminal becomes the controlling one, as in a
    terminal window."""
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


class PtyConsole:
    """A program on a pseudo-terminal; expect() looks for text in the raw
    output with the drawing sequences and spaces taken out."""

    def __init__(self, args, cwd, env):
        self.fd, self.terminal = os.openpty()
        # CTRL+Z is a key for the program, as on a Windows console, not
        # the terminal's suspend.
        attrs = termios.tcgetattr(self.terminal)
        attrs[6][termios.VSUSP] = b"\0"
        termios.tcsetattr(self.terminal, termios.TCSANOW, attrs)
        self.proc = subprocess.Popen(args, cwd=cwd, env=env, stdin=self.terminal,
                                     stdout=self.terminal, stderr=self.terminal,
                                     start_new_session=True, preexec_fn=take_terminal)
        self.raw = bytearray()
        self.mark = 0

    def _pump(self, timeout):
        ready, _, _ = select.select([self.fd], [], [], max(timeout, 0))
        if not ready:
            return True
        try:
            chunk = os.read(self.fd, 4096)
        except OSError:  # the terminal is gone
            chunk = b""
        self.raw += chunk
        return bool(chunk)

    def plain(self):
        # Wine draws a space as an erasure and a cursor move: the text is
        # compared without spaces.
        text = CSI.sub(b"", OSC.sub(b"", bytes(self.raw)))
        return text.replace(b"\r", b"").replace(b" ", b"")

    def expect(self, text, timeout):
        needle = text.replace(" ", "").encode()
        deadline = time.monotonic() + timeout
        while True:
            at = self.plain().find(needle, self.mark)
            if at >= 0:
                self.mark = at + len(needle)
                return
            left = deadline - time.monotonic()
            if left <= 0 or not self._pump(left):
                raise Failed("no %r on the console within %ds" % (text, timeout))

    def screen(self):
        """The screen as drawn so far."""
        screen = Screen()
        screen.feed(bytes(self.raw))
        return screen.text()

    def _until_console_reads(self, timeout=10):
        """Wine's console puts the terminal out of line mode when it first
        reads a key; keys typed before that would be the terminal's to
        echo and edit. The mode change has no event to wait on: it is
        looked at every 20 ms."""
        deadline = time.monotonic() + timeout
        while termios.tcgetattr(self.terminal)[3] & termios.ICANON:
            if time.monotonic() > deadline:
                raise Failed("the console did not start reading keys")
            self._pump(0.02)

    def type(self, keys):
        self._until_console_reads()
        # One write: a cursor key's sequence must reach the console whole.
        os.write(self.fd, keys.encode())

    def answer(self, question, keys, timeout=30):
        self.expect(question, timeout)
        self.type(keys)

    def wait(self, timeout):
        deadline = time.monotonic() + timeout
        while self.proc.poll() is None:
            if time.monotonic() > deadline:
                raise Failed("the program did not end within %ds" % timeout)
            self._pump(0.1)
        # What it drew last; the terminal stays open here, so no end of file.
        while select.select([self.fd], [], [], 0.2)[0] and self._pump(0):
            pass
        return self.proc.returncode

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)
        os.close(self.terminal)
        os.close(self.fd)


def run(opts):
    sim = start_sim(opts.zolsim, opts.links, False)
    app = None
    try:
        env = dict(os.environ, TZ="UTC", TERM="xterm")
        app = PtyConsole(shlex.split(opts.sampler) + ["-P", "1", "-B", "9600", "-p", "-1", "-b", "-1"],
                         opts.work, env)
        app.answer("Enter ZOL Serial Number", "4")
        app.type("9")
        app.type(BACKSPACE)
        app.type("2\r")
        app.answer("Enter ZOL Sample Rate in minutes", "1\r")
        check(re.search(r"Enter ZOL Serial Number.*\? *42$", app.screen(), re.M),
              "the serial number is not shown as 42")
        # A cursor key left in the answer would make it no number, and the
        # mode would stay at its default, PADO.
        app.answer("Enter ZOL Sample MODE: KIRN=1 PADO=2", CURSOR_LEFT)
        app.type("1\r")
        app.answer("Enter Solution Temperature", "\r")
        check(re.search(r"Enter ZOL Sample MODE: KIRN=1 PADO=2.*\? *1$", app.screen(), re.M),
              "the mode is not shown as 1 alone")
        app.answer("Enter Solution Salinity", "\r")
        app.answer("Sync ZOL RTC to PC?", "\r", 60)
        app.answer("Sync start of sampling to minute value?", "\r", 60)
        app.expect("Waking ZOL 0042", CYCLE_S)
        app.expect("001, Next Sample, ", CYCLE_S)
        app.type(CTRL_Z)
        status = app.wait(30)
        check(status == 0, "status %s after CTRL+Z" % status)
        check("Got CTRL+Z - Terminating Sampling Thread" in app.screen(),
              "no orderly stop on the screen")
        for name in ("ZOL0042_KIRN.log", "ZOL0042_KIRN.dat"):
            check(os.path.getsize(os.path.join(opts.work, name)) > 0, name + " is empty")
    finally:
        if app is not None:
            app.kill()
            with open(os.path.join(opts.work, "console.raw"), "wb") as f:
                f.write(bytes(app.raw))
        sim.terminate()
        sim.wait(10)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sampler", required=True)
    parser.add_argument("--links", required=True, help="a wine prefix's dosdevices")
    parser.add_argument("--zolsim", required=True)
    parser.add_argument("--work", required=True)
    opts = parser.parse_args()
    opts.work = os.path.join(opts.work, "console-keys")
    shutil.rmtree(opts.work, ignore_errors=True)
    os.makedirs(opts.work)
    try:
        run(opts)
    except Failed as failure:
        print("FAILED console-keys: %s (screen in %s/console.raw)" % (failure, opts.work))
        return 1
    print("passed console-keys")
    return 0


if __name__ == "__main__":
    sys.exit(main())
