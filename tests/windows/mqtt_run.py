#!/usr/bin/env python3
"""An e2e_run.py scenario with the sampler's MQTT link set: a broker
(mosquitto) on 127.0.0.1 on a free port and a subscriber to the data topic
run beside it; after the run, the lines the subscriber got must be those of
the data files, in order, each at its offset with its line end.

  tests/windows/mqtt_run.py E2E_RUN_ARGUMENTS...   (the same as e2e_run.py's)
"""
import json
import os
import socket
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_run  # noqa: E402

FILES = ["ZOL0042_KIRN.dat", "ZOL0042_KIRN_2.dat"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_broker(folder, port):
    config = os.path.join(folder, "mosquitto.conf")
    with open(config, "w") as f:
        f.write("listener %d 127.0.0.1\nallow_anonymous true\nlog_dest stderr\n" % port)
        if os.getuid() == 0:
            f.write("user root\n")
    broker = subprocess.Popen(["mosquitto", "-c", config], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT)
    for line in broker.stdout:
        if b" running" in line:
            # Its log read on to the end, so it never waits on a full pipe.
            threading.Thread(target=broker.stdout.read, daemon=True).start()
            return broker
    raise e2e_run.Failed("the broker did not start")


class Subscriber:
    """mosquitto_sub on the data and status topics, QoS 1. Its debug lines
    and the messages share its output; the messages are the JSON lines."""

    def __init__(self, port):
        self.proc = subprocess.Popen(
            ["stdbuf", "-oL", "mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-q", "1", "-d",
             "-t", "zolsampler/+/data", "-t", "zolsampler/+/status"], stdout=subprocess.PIPE)
        self.messages = []
        self.subscribed = threading.Event()
        self.stopped = threading.Event()  # the sampler's last status arrived
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            if b"SUBACK" in line:
                self.subscribed.set()
            elif line.startswith(b"{"):
                message = json.loads(line)
                if "line" in message:
                    self.messages.append(message)
                elif message.get("state") == "stopped":
                    self.stopped.set()


def check_delivered(messages, work):
    """Every line of each data file, in order, once or more."""
    seen = {}
    for message in messages:
        key = (message["file"], message["offset"])
        if key not in seen:
            seen[key] = message
    for name in FILES:
        with open(os.path.join(work, name), "rb") as f:
            data = f.read().decode("latin-1")
        offset = 0
        lines = data.split("\r\n")[:-1]
        e2e_run.check(lines, name + " has no lines")
        for line in lines:
            message = seen.get((name, offset))
            e2e_run.check(message is not None, "%s: no message for offset %d" % (name, offset))
            e2e_run.check(message["line"] == line and message["eol"] == "\r\n",
                          "%s at %d: %r, not %r" % (name, offset, message["line"], line))
            e2e_run.check(message["station"] == "ZOL0042", "station " + message["station"])
            offset += len(line) + 2
    return len(seen)


def check_tls_refused(sampler):
    """No TLS in the Windows build: mqtts:// refused at start, status 1."""
    env = dict(os.environ, ZOLSAMPLER_MQTT="mqtts://127.0.0.1")
    run = subprocess.run(sampler.split() + ["-P", "1", "-B", "9600", "-p", "-1", "-b", "-1"],
                         env=env, timeout=60,
                         stdin=subprocess.DEVNULL, capture_output=True)
    e2e_run.check(run.returncode == 1 and b"zolsampler: ZOLSAMPLER_MQTT: this build of zolsampler"
                  b" has no TLS: mqtt:// only" in run.stderr,
                  "mqtts:// not refused: status %d, %r" % (run.returncode, run.stderr))


def main():
    work = next(sys.argv[i + 1] for i, a in enumerate(sys.argv) if a == "--work")
    scenario = sys.argv[-1]
    with tempfile.TemporaryDirectory(prefix="zol-mqtt-") as folder:
        port = free_port()
        broker = start_broker(folder, port)
        sub = None
        try:
            check_tls_refused(next(sys.argv[i + 1] for i, a in enumerate(sys.argv)
                                   if a == "--sampler"))
            sub = Subscriber(port)
            e2e_run.check(sub.subscribed.wait(10), "the subscriber did not subscribe")
            os.environ["ZOLSAMPLER_MQTT"] = "mqtt://127.0.0.1:%d" % port
            status = e2e_run.main()
            if status != 0:
                return status
            # Published after every data line it had.
            e2e_run.check(sub.stopped.wait(10), "no \"stopped\" status")
            count = check_delivered(sub.messages, os.path.join(work, scenario))
        except e2e_run.Failed as failure:
            print("FAILED %s over MQTT: %s" % (scenario, failure))
            return 1
        finally:
            for process in (sub.proc if sub else None, broker):
                if process is not None and process.poll() is None:
                    process.terminate()
                    process.wait(10)
    print("passed %s over MQTT (%d lines delivered)" % (scenario, count))
    return 0


if __name__ == "__main__":
    sys.exit(main())
