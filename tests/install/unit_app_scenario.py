#!/usr/bin/env python3
"""The example application in a scenario: installs the build tree into a fresh prefix,
builds examples/ against it (with the build's sanitizer flags), runs it with a console and
drives the unit through the console, checking what the application did.

usage: unit_app_scenario.py BUILD_DIR EXAMPLE_DIR "C_FLAGS" "LINK_FLAGS"
"""
import json
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

DEADLINE = 30  # seconds for anything the application does in answer


def fail(why):
    sys.exit("unit_app_scenario: " + why)


def build_example(build, source, work, cflags, ldflags):
    prefix = os.path.join(work, "prefix")
    quiet = {"stdout": subprocess.DEVNULL, "check": True}
    subprocess.run(["cmake", "--build", build, "--target", "bspsim"], **quiet)
    subprocess.run(["cmake", "--install", build, "--prefix", prefix], **quiet)
    out = os.path.join(work, "example")
    subprocess.run(["cmake", "-S", source, "-B", out, "-DCMAKE_PREFIX_PATH=" + prefix,
                    "-DCMAKE_C_FLAGS=-Wall -Wextra -Wpedantic -Werror " + cflags,
                    "-DCMAKE_EXE_LINKER_FLAGS=" + ldflags], **quiet)
    subprocess.run(["cmake", "--build", out], **quiet)
    return os.path.join(out, "unit_app")


class Log:
    """What the application printed. The console captures the whole process's output while it
    runs a command, so a line printed then reaches the console's reply instead: both count."""

    def __init__(self):
        self.lines = []
        self.seen = 0  # lines before this one were matched by expect
        self.changed = threading.Condition()

    def add(self, lines):
        with self.changed:
            self.lines += lines
            self.changed.notify_all()

    def expect(self, line):
        """Waits for `line` after the last one expected."""
        with self.changed:
            if not self.changed.wait_for(lambda: line in self.lines[self.seen:], DEADLINE):
                fail("no line %r; the application printed %r" % (line, self.lines[self.seen:]))
            self.seen = self.lines.index(line, self.seen) + 1


class App:
    """The application, its standard output going to a Log."""

    def __init__(self, exe, sock, work, log):
        env = dict(os.environ, BSP_SIM_CONSOLE=sock)
        env.pop("LD_LIBRARY_PATH", None)
        self.err = open(os.path.join(work, "stderr.txt"), "w+")
        self.proc = subprocess.Popen([exe], stdout=subprocess.PIPE, stderr=self.err, env=env,
                                     text=True)
        threading.Thread(target=self._read, args=(log,), daemon=True).start()

    def _read(self, log):
        for line in self.proc.stdout:
            log.add([line.rstrip("\n")])

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        rc = self.proc.wait(DEADLINE)
        self.err.seek(0)
        return rc, self.err.read()


class Console:
    """A client of the unit's console: one command per line, a reply ends with its status."""

    def __init__(self, path, log):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.reader = self.sock.makefile("r")
        self.log = log
        self.run("json on")  # status commands answer in JSON

    def run(self, command):
        self.sock.sendall((command + "\n").encode())
        out = []
        for line in self.reader:
            line = line.rstrip("\n")
            if line == "ok":
                self.log.add(out)
                return "\n".join(out)
            if line.startswith("error: "):
                fail("%s: %s" % (command, line))
            out.append(line)
        fail(command + ": the console closed")


def far_side_took(console):
    """What the far side took, as (device, bytes)."""
    reply = json.loads(re.search(r"^{.*$", console.run("pci-far"), re.M).group(0))
    return [(taken["dev"], bytes.fromhex(taken["bytes"])) for taken in reply["taken"]]


def join_terminal(console):
    """Joins a terminal to the serial port's far end: the test reads what the unit sends."""
    path = re.search(r"terminal program to (\S+)", console.run("serial-link")).group(1)
    return os.open(path, os.O_RDWR | os.O_NOCTTY)


def read_terminal(fd, count):
    data = b""
    end = time.monotonic() + DEADLINE
    while len(data) < count and select.select([fd], [], [], end - time.monotonic())[0]:
        data += os.read(fd, count - len(data))
    return data


def serial_frame(msg):
    """A serial frame: start marker, length (message and 12), message, stop marker."""
    return b"\x5a\xa5\xc3\x3c" + (len(msg) + 12).to_bytes(4, "big") + msg + b"\xa5\x5a\x3c\xc3"


def await_answer(console, dev, text):
    end = time.monotonic() + DEADLINE
    while time.monotonic() < end:
        if (dev, text) in far_side_took(console):
            return
        time.sleep(0.05)
    fail("the far side got no %r on device %d: %r" % (text, dev, far_side_took(console)))


def answers_peers(log, console):
    console.run("pci-inject 1 text:hello")
    await_answer(console, 1, b"hello")
    terminal = join_terminal(console)
    console.run("serial-inject text:version")
    want = serial_frame(b"version 0x00020001")
    got = read_terminal(terminal, len(want))
    os.close(terminal)
    if got != want:
        fail("the serial port's far end got %r" % got)
    console.run("pci-inject 2 text:ASSET-0001")
    log.expect("inventory: asset tag ASSET-0001 stored")
    await_answer(console, 2, b"asset tag stored")


def logs_link_events(log, console):
    for command, line in [("sfp-pull", "link: port 3 down, SFP module none"),
                          ("sfp-plug copper", "link: port 3 up at 1000 Mbit/s, SFP module copper"),
                          ("link down", "link: port 3 down, SFP module copper"),
                          ("link up", "link: port 3 up at 1000 Mbit/s, SFP module copper")]:
        console.run(command)
        log.expect(line)


def notices_a_torn_write(log, console):
    # Power is lost in the first page write of the next tag: 5 bytes of it reach the chip.
    console.run("faults seed 1")  # counts the EEPROM's writes from here
    console.run("faults at eeprom-tear 1 5")
    console.run("pci-inject 2 text:NEWTAG-0002")
    log.expect("inventory: asset tag NEWTAG-0002 not stored (-14)")
    await_answer(console, 2, b"asset tag not stored: -14")
    # The tag item, first in the inventory area: its first 5 bytes new, the rest as they were.
    dump = console.run("e2prom-dump 0x140 16")
    if "00000140  4e 45 57 54 41 2d 30 30 30 31 00 00 00 00 00 00  NEWTA-0001......" not in dump:
        fail("the asset tag item holds:\n" + dump)


def main():
    build, source, cflags, ldflags = sys.argv[1:5]
    work = tempfile.mkdtemp(prefix="bsp-unit-app-")
    try:
        exe = build_example(build, source, work, cflags, ldflags)
        sock = os.path.join(work, "console.sock")
        log = Log()
        app = App(exe, sock, work, log)
        try:
            log.expect("unit_app: running")
            console = Console(sock, log)
            answers_peers(log, console)
            logs_link_events(log, console)
            notices_a_torn_write(log, console)
            console.run("quit")
        finally:
            rc, err = app.stop()
        if rc != 0:
            fail("the application ended with %d:\n%s" % (rc, err))
        log.expect("unit_app: stopped")
        print("unit_app_scenario: the application answered every step")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
