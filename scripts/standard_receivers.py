"""Receivers of XMODEM, XMODEM-1K and YMODEM that others wrote, each behind
a pseudo-terminal a sender opens as its serial port: lrzsz's rx and rb,
python3-xmodem, and U-Boot's loadx and loady in qemu-system-i386.

Each receiver waits until the sender has opened the port before it asks for
the first block, so that the flush at the opening never swallows the first
request. Shared by scripts/check-standard-receivers and bench/standard-race.
"""

import io
import os
import re
import select
import subprocess
import threading
import time
import tty

UBOOT_ROM = "/usr/lib/u-boot/qemu-x86/u-boot.rom"
# After the port is opened: time for the sender to configure and flush it.
SETTLE = 0.3


class Receiver:
    """One transfer's receiving end. `port` is the tty the sender opens."""

    port = None
    reusable = False  # takes one transfer after another

    def start(self, name):
        """Gets ready to receive `name` (the image's file name)."""

    def finish(self, timeout):
        """Waits for the end of the transfer; returns (bytes, note)."""
        raise NotImplementedError

    def close(self):
        pass


def _wait_for_opening(master, timeout=30):
    """Returns once another process has opened the slave of `master`:
    until then the master reports a hang-up."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        poller = select.poll()
        poller.register(master, select.POLLIN)
        events = poller.poll(20)
        if not any(e & select.POLLHUP for _, e in events):
            return True
        time.sleep(0.005)
    return False


class Lrzsz(Receiver):
    """rx (XMODEM, XMODEM-1K) or rb (YMODEM), joined by socat to the pty the
    sender opens. Its input and output are pipes: on a pty of its own, the
    ACK it writes to the last EOT just before it exits can be lost with the
    pty. lrzsz refuses absolute names in its restricted mode, so it runs in
    its own folder with relative ones."""

    def __init__(self, folder, command, crc=True, own_pty=False):
        self.folder = folder
        self.command = command  # "rx" or "rb"
        self.crc = crc
        # On a pty of its own, as people run it: its last answer may be lost
        # when it exits.
        self.own_pty = own_pty
        os.makedirs(folder, exist_ok=True)
        self.port = os.path.join(folder, "port")

    def start(self, name):
        self.name = name
        received = "received.bin"
        if self.command == "rx":
            # -b binary, -c ask with 'C' for CRC-16 (else NAK, the 8-bit sum), the file name relative
            flags = ["-b"] + (["-c"] if self.crc else []) + [received]
        else:
            # -b binary, -y overwrite; the name comes from block 0
            flags = ["-b", "-y"]
        self.received = os.path.join(self.folder, received if self.command == "rx" else os.path.basename(name))
        for stale in (self.received, self.port):
            if os.path.lexists(stale):
                os.remove(stale)
        program = " ".join([self.command] + flags)
        self.log = open(os.path.join(self.folder, self.command + ".log"), "wb")
        # wait-slave: the receiver starts once the sender has opened the port.
        self.socat = subprocess.Popen(
            ["socat", f"PTY,link={self.port},raw,echo=0,wait-slave",
             f"SYSTEM:'sleep {SETTLE}; exec {program}'" + (",pty,raw,echo=0" if self.own_pty else "")],
            cwd=self.folder, stdout=subprocess.DEVNULL, stderr=self.log)
        end = time.monotonic() + 10
        while not os.path.lexists(self.port) and time.monotonic() < end:
            time.sleep(0.005)

    def finish(self, timeout):
        try:
            self.socat.wait(timeout)
        except subprocess.TimeoutExpired:
            self.socat.terminate()
            self.socat.wait()
            return None, "the receiver did not end"
        self.log.close()
        if not os.path.exists(self.received):
            return None, "no file received"
        with open(self.received, "rb") as f:
            return f.read(), ""

    def close(self):
        if getattr(self, "socat", None) and self.socat.poll() is None:
            self.socat.terminate()
            self.socat.wait()


class PythonXmodem(Receiver):
    """python3-xmodem's receiver, which cancels at one stray byte between
    frames, on the master of a pty whose slave the sender opens."""

    def __init__(self, crc=True):
        self.crc = crc

    def start(self, name):
        import xmodem  # Debian's python3-xmodem

        master, slave = os.openpty()
        tty.setraw(slave)
        self.master = master
        self.port = os.ttyname(slave)
        os.close(slave)  # the master reports a hang-up until the sender opens it
        self.data = io.BytesIO()
        self.result = None

        def getc(size, timeout=1):
            got = b""
            end = time.monotonic() + timeout
            while len(got) < size:
                left = end - time.monotonic()
                if left <= 0 or not select.select([master], [], [], left)[0]:
                    return None
                try:
                    got += os.read(master, size - len(got))
                except OSError:
                    return None
            return got

        def putc(data, timeout=1):
            return os.write(master, data)

        def receive():
            if _wait_for_opening(master):
                time.sleep(SETTLE)
                modem = xmodem.XMODEM(getc, putc)
                self.result = modem.recv(self.data, crc_mode=1 if self.crc else 0, timeout=3, quiet=1)

        self.thread = threading.Thread(target=receive, daemon=True)
        self.thread.start()

    def finish(self, timeout):
        self.thread.join(timeout)
        if self.thread.is_alive():
            return None, "the receiver did not end"
        if self.result is None:
            return None, "the receiver cancelled"
        return self.data.getvalue(), ""

    def close(self):
        os.close(self.master)


class UBoot(Receiver):
    """U-Boot in qemu-system-i386 (TCG), its console on a pty: loadx or
    loady, then crc32 and filesize tell what arrived."""

    reusable = True

    def __init__(self, folder, command):
        self.folder = folder
        self.command = command  # "loadx" or "loady"
        os.makedirs(folder, exist_ok=True)
        self.qemu = None

    def boot(self):
        self.qemu = subprocess.Popen(
            ["qemu-system-i386", "-bios", UBOOT_ROM, "-display", "none", "-monitor", "none",
             "-serial", "pty", "-nic", "none", "-m", "256", "-accel", "tcg"],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        line = self.qemu.stdout.readline()
        found = re.search(r"(/dev/pts/\d+)", line)
        if not found:
            raise RuntimeError("qemu gave no pty: " + line)
        self.port = found.group(1)
        self.console = os.open(self.port, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.console)
        # Any key stops the autoboot; the prompt follows.
        end = time.monotonic() + 60
        while time.monotonic() < end:
            os.write(self.console, b"\r")
            if b"=>" in self.read_for(0.5):
                self.read_for(0.3)
                return
        raise RuntimeError("U-Boot gave no prompt")

    def read_for(self, seconds, until=None):
        got = b""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if select.select([self.console], [], [], max(0, end - time.monotonic()))[0]:
                got += os.read(self.console, 4096)
                if until and until in got:
                    break
        return got

    def run(self, line, seconds=10):
        os.write(self.console, line.encode() + b"\r")
        return self.read_for(seconds, b"\n=> ").decode("latin-1")

    def start(self, name):
        if self.qemu is None:
            self.boot()
        os.write(self.console, self.command.encode() + b"\r")
        shown = self.read_for(10, b"Ready for binary")
        if b"Ready for binary" not in shown:
            raise RuntimeError(f"{self.command} did not start: {shown!r}")
        # From here on the sender alone reads the console, until it is done.

    def finish(self, timeout):
        after = self.read_for(timeout, b"\n=> ").decode("latin-1")
        crc = re.search(r"==> ([0-9a-f]{8})", self.run("crc32 ${loadaddr} ${filesize}"))
        size = re.search(r"filesize=([0-9a-f]+)", self.run("printenv filesize"))
        if not crc or not size:
            return None, "no crc32 or filesize: " + after[-200:]
        return (int(crc.group(1), 16), int(size.group(1), 16)), ""

    def close(self):
        if self.qemu:
            os.close(self.console)
            self.qemu.kill()
            self.qemu.wait()
            self.qemu = None
