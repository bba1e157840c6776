#!/usr/bin/env python3
"""Boots the guest image on the emulated board, once with both EEPROMs, once with only the
driver-bound one and once for the unit shell, counts the guest's check lines and checks the
backing files after power-off. During the first boot it plays the far end of the guest's UART
and a TCP client of the guest's frame socket, and checks the bytes the library put on both.
The third boot runs bspunit on the shell transcript and compares what it printed. Ends with
"N passed, M failed"; exits non-zero on a failure or an unfinished guest.
Usage: boot_and_check.py DIR (holding vmlinuz, board.dtb, initrd.gz)

With --sim, runs the same guest program against the simulated devices instead (each group in
a process of its own, as in the guest), with the same serial peer and TCP client, and checks
the same bytes on the line and the socket. The simulated unit records the console hand-over's
command instead of starting getty, so no login prompt follows the frames there.
Usage: boot_and_check.py --sim [EMULATOR...] PROGRAM"""
import os
import socket
import struct
import subprocess
import sys
import threading
import time

import transcript

EEPROM_SIZE = 0x4000
FLASH_SIZE = 2 << 20
BOOT_LIMIT_S = 240
TRANSCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "shell.transcript")

passed = failed = 0


def check(ok, what):
    global passed, failed
    passed, failed = passed + bool(ok), failed + (not ok)
    print(("PASS" if ok else "FAIL") + ": host: " + what, flush=True)


def pattern(salt):
    return bytes((i * salt + 3) & 0xFF for i in range(EEPROM_SIZE))


def fill(n, seed):
    return bytes((i * 31 + seed) & 0xFF for i in range(n))


START, STOP = b"\x5a\xa5\xc3\x3c", b"\xa5\x5a\x3c\xc3"


def serial_frame(msg):
    return START + struct.pack(">I", len(msg) + 12) + msg + STOP


def tcp_frame(msg):
    return START + struct.pack(">I", 600) + msg + bytes(588 - len(msg)) + STOP


class PtyLine:
    """The simulated serial line's far end (a pseudo-terminal the simulator keeps raw), with the
    socket calls the peer uses."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)

    def recv(self, n):
        try:
            return os.read(self.fd, n)
        except OSError:
            return b""

    def sendall(self, data):
        while data:
            data = data[os.write(self.fd, data):]


def connect_unix(path, until):
    while time.monotonic() < until:
        try:
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            s.connect(path)
            return s
        except OSError:
            time.sleep(0.1)
    return None


class SerialPeer(threading.Thread):
    """The far end of the guest's UART: echoes each frame (unless told to listen only),
    except that "resync" is answered with the head of a frame, a silence beyond the byte
    time-out and a whole frame, and "console" with two carriage returns. Keeps every byte the
    guest sent."""

    def __init__(self, path, echo=True):
        super().__init__(daemon=True)
        self.path, self.seen, self.echo = path, b"", echo

    def frames(self, sock):
        buf = b""
        while True:
            while len(buf) < 8 or len(buf) < struct.unpack(">I", buf[4:8])[0]:
                data = sock.recv(4096)
                if not data:
                    return
                buf += data
                self.seen += data
            size = struct.unpack(">I", buf[4:8])[0]
            yield buf[8:size - 4]
            buf = buf[size:]

    def run(self):
        sock = PtyLine(self.path) if self.path.startswith("/dev/") else \
            connect_unix(self.path, time.monotonic() + 30)
        if sock is None:
            return
        for msg in self.frames(sock):
            if not self.echo:
                continue
            if msg == b"resync":
                sock.sendall(START + struct.pack(">I", 112) + bytes(range(10)))
                time.sleep(3)
                sock.sendall(serial_frame(b"after the silence"))
            elif msg == b"console":
                sock.sendall(b"\r\r")
            else:
                sock.sendall(serial_frame(msg))


class TcpClient(threading.Thread):
    """A client of the guest's frame socket (through QEMU's port forward): sends one frame,
    keeps the 1200 bytes of the two frames the guest answers with, then sends "done". The
    forward accepts before the guest listens, so a closed connection means: try again."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.port, self.got = port, b""

    def run(self):
        until = time.monotonic() + 300
        while time.monotonic() < until and len(self.got) < 1200:
            self.got = b""
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=60) as s:
                    s.sendall(tcp_frame(b"hello from the host"))
                    while len(self.got) < 1200:
                        data = s.recv(1200 - len(self.got))
                        if not data:
                            break
                        self.got += data
                    if len(self.got) == 1200:
                        s.sendall(tcp_frame(b"done"))
                        time.sleep(1)
            except OSError:
                pass
            time.sleep(0.5)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def boot(name, checks, eeproms, tcp_port=0, flash="flash.bin"):
    """One power cycle; returns the console text. `eeproms` maps address to backing file; the
    guest's UART is the Unix socket NAME.uart, its port 5555 forwarded from `tcp_port`."""
    console = f"{name}.console"
    open(console, "wb").close()
    if os.path.exists(f"{name}.uart"):
        os.unlink(f"{name}.uart")
    nic = f"user,hostfwd=tcp:127.0.0.1:{tcp_port}-:5555" if tcp_port else "user"
    cmd = ["qemu-system-arm", "-M", "sabrelite", "-smp", "1", "-m", "512M", "-no-reboot",
           "-kernel", "vmlinuz", "-dtb", "board.dtb", "-initrd", "initrd.gz",
           "-append", f"console=ttymxc1,115200 rdinit=/init loglevel=4 checks={checks}",
           "-display", "none", "-monitor", "none",
           "-chardev", f"socket,id=uart,path={name}.uart,server=on,wait=off",
           "-serial", "chardev:uart", "-serial", f"file:{console}", "-nic", nic,
           "-drive", f"if=mtd,format=raw,file={flash}"]
    for addr, path in eeproms.items():
        cmd += ["-drive", f"if=none,id=ee{addr:x},format=raw,file={path}",
                "-device", f"at24c-eeprom,bus=i2c-bus.1,address={addr:#x},rom-size={EEPROM_SIZE},"
                f"drive=ee{addr:x}"]
    start = time.monotonic()
    try:
        subprocess.run(cmd, stdin=subprocess.DEVNULL, timeout=BOOT_LIMIT_S, check=False,
                       stdout=open(f"{name}.qemu", "wb"), stderr=subprocess.STDOUT)
    except subprocess.TimeoutExpired:
        pass
    text = open(console, errors="replace").read()
    print(f"== boot {name}: {time.monotonic() - start:.1f} s", flush=True)
    return text


def count_guest_lines(name, text):
    global passed, failed
    for line in text.splitlines():
        if line.startswith(("PASS:", "FAIL:", "RATE:", "  ", "==", "group ")):
            print(line)
        passed += line.startswith("PASS:")
        failed += line.startswith("FAIL:")
    check("GUEST-DONE" in text, f"the guest of boot {name} finished its checks")


def directory(image, at, id_len, field_len, first_entry, read_len):
    """Decodes one directory of the EEPROM layout (header or area header): a zero marker, a
    size field, entries (id, size, place), a zero terminator, a byte-sum check byte."""
    b = image[at:at + read_len]
    entries, off = {}, first_entry
    while off + id_len <= read_len and int.from_bytes(b[off:off + id_len], "big") != 0:
        f = off + id_len
        entries[int.from_bytes(b[off:f], "big")] = (
            int.from_bytes(b[f:f + field_len], "big"),
            int.from_bytes(b[f + field_len:f + 2 * field_len], "big"))
        off = f + 2 * field_len
    end = off + id_len
    sound = (int.from_bytes(b[:id_len], "big") == 0 and end < read_len
             and sum(b[:end]) & 0xFF == b[end])
    return sound, int.from_bytes(b[id_len:id_len + field_len], "big"), entries, end + 1


def check_layout(image):
    """The chip after the transcript: e2prom-reset, -format, area 3 of 1 KiB, item 0x1234 of
    18 bytes; then the I2C writes at 0x3F00 (4 bytes) and 0x0010 (one register)."""
    item = b"unit-and-simulator"
    sound, space, areas, header_end = directory(image, 0, 1, 4, 5, 64)
    check(sound and space == 0x3E00 and areas == {3: (0x400, 0x40)},
          "EEPROM header: marker, space 0x3E00, area 3 at 0x40 of 0x400, check byte")
    sound, size, items, area_end = directory(image, 0x40, 2, 2, 4, 256)
    check(sound and size == 0x400 and items == {0x1234: (len(item) + 1, 0x100)},
          "area header: marker, size 0x400, item 0x1234 of 18+1 bytes at 0x100, check byte")
    at = 0x140
    check(image[at:at + len(item)] == item and sum(item) & 0xFF == image[at + len(item)],
          "item 0x1234: its bytes and their check byte")
    check(image[0x3F00:0x3F04] == b"\xa1\xa2\xa3\xa4" and image[0x10] == 0x5A,
          "the I2C buffer and register writes")
    written = (set(range(header_end)) | set(range(0x40, 0x40 + area_end)) |
               set(range(at, at + len(item) + 1)) | set(range(0x3F00, 0x3F04)) | {0x10})
    check(all(image[i] == 0xFF for i in range(EEPROM_SIZE) if i not in written),
          "every other byte is erased (0xFF) by e2prom-reset")


def expect_bytes(image, base, changes, what):
    want = bytearray(base)
    for at, data in changes:
        want[at:at + len(data)] = data
    check(image == bytes(want), what)


def check_shell():
    """bspunit on the transcript, against an EEPROM at 0x57 and a flash of its own; the frame
    its serial-write sent must reach the far end of the UART, and the chips must hold what
    its commands wrote after power-off."""
    global passed, failed
    open("ee57-shell.bin", "wb").write(pattern(7))
    open("flash-shell.bin", "wb").write(b"\xff" * FLASH_SIZE)
    peer = SerialPeer("shell.uart", echo=False)
    peer.start()
    text = boot("shell", "shell", {0x57: "ee57-shell.bin"}, flash="flash-shell.bin")
    check("GUEST-DONE" in text, "the guest of boot shell finished its checks")
    out = text.split("SHELL-BEGIN", 1)[-1].split("SHELL-END", 1)[0]
    counts = transcript.compare("unit", transcript.parse(TRANSCRIPT), out)
    passed, failed = passed + counts[0], failed + counts[1]
    check(peer.seen == serial_frame(b"frame-from-unit"),
          "serial-write put exactly its frame on the guest's UART")
    check_layout(open("ee57-shell.bin", "rb").read())
    expect_bytes(open("flash-shell.bin", "rb").read(), b"\xff" * FLASH_SIZE,
                 [(0x100, b"\x05\x0a\x0c\x03")], "flash after power-off: the NOR writes at 0x100")


SERIAL_SIZES = (1, 300, 588)


def serial_sent():
    """The five frames the serial group sends, as they must appear on the line."""
    sent = [bytes((i * 31 + 0x30 + k) & 0xFF for i in range(n)) for k, n in enumerate(SERIAL_SIZES)]
    return b"".join(serial_frame(m) for m in sent + [b"resync", b"console"])


def tcp_sent():
    return tcp_frame(b"\x01\x02\x03") + tcp_frame(bytes((i * 31 + 0x77) & 0xFF for i in range(588)))


def run_sim(command):
    """The guest's check groups against the simulated devices, one process each."""
    for group in ("eeprom", "i2c", "flash", "serial", "tcp", "eeprom-sysfs"):
        port = free_port()
        proc = subprocess.Popen(command + [group], stdout=subprocess.PIPE, text=True,
                                env=dict(os.environ, BSP_CHECKS_TCP_PORT=str(port)))
        head = proc.stdout.readline() if group == "serial" else ""
        peer = SerialPeer(head.split(": ", 1)[-1].strip())
        client = TcpClient(port)
        if group == "serial":
            peer.start()
        if group == "tcp":
            client.start()
        text = head + proc.stdout.read()
        status = proc.wait()
        count_guest_lines(group, text + ("GUEST-DONE" if status >= 0 else ""))
        if group == "serial":
            time.sleep(0.5)
            check(peer.seen == serial_sent(), "the serial line got exactly the five frames")
        if group == "tcp":
            client.join(10)
            check(client.got == tcp_sent(), "the frame socket sent two 600-byte frames, byte for byte")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


def main():
    if sys.argv[1] == "--sim":
        return run_sim(sys.argv[2:])
    os.chdir(sys.argv[1])
    for name, data in (("ee57.bin", pattern(7)), ("ee53.bin", pattern(13)),
                       ("ee53-alone.bin", pattern(13)), ("flash.bin", b"\xff" * FLASH_SIZE)):
        open(name, "wb").write(data)
    port = free_port()
    peer, client = SerialPeer("main.uart"), TcpClient(port)
    peer.start()
    client.start()
    text = boot("main", "eeprom,i2c,flash,serial,tcp",
                {0x57: "ee57.bin", 0x53: "ee53.bin"}, port)
    count_guest_lines("main", text)
    want = serial_sent()
    check(peer.seen.startswith(want) and b"login: " in peer.seen[len(want):],
          "the guest's UART sent exactly the five frames, then getty's login prompt")
    check(client.got == tcp_sent(), "the guest's frame socket sent two 600-byte frames, byte for byte")
    check(open("ee57.bin", "rb").read() == b"\xff" * EEPROM_SIZE,
          "0x57 after power-off: e2prom_reset left 0xFF everywhere")
    expect_bytes(open("ee53.bin", "rb").read(), pattern(13),
                 [(0x100, fill(32, 0x11)), (0x40, b"\x77")],
                 "0x53 after power-off: the forced block and register writes, nothing else")
    expect_bytes(open("flash.bin", "rb").read(), b"\xff" * FLASH_SIZE,
                 [(0x100000, fill(65536, 0x44)), (0x110000, fill(65536, 0x44))],
                 "flash after power-off: the two 64 KiB writes, nothing else")
    text = boot("sysfs", "eeprom-sysfs", {0x53: "ee53-alone.bin"})
    count_guest_lines("sysfs", text)
    expect_bytes(open("ee53-alone.bin", "rb").read(), pattern(13), [(0x0FE2, fill(100, 0x5A))],
                 "0x53 after power-off: the 100 bytes written through the driver's file")
    check_shell()
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
