"""The board's management controller on the real path: OpenIPMI's ipmi_sim with the BMC
module (bmc/) behind QEMU's KCS interface, as a board_qemu Service on its own 127.0.0.1
ports with a private state directory; what it stored, read back as the board checks read
a delivery; its read-back command over the simulator's LAN; and a tap between QEMU and
the BMC's VM socket that can spoil or hold back one chunk of a chunked transfer.
Python standard library only."""

import dataclasses
import os
import re
import select
import signal
import socket
import struct
import subprocess
import threading
import time

import board_qemu
import board_report

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RUN_SCRIPT = os.path.join(REPO, "bmc", "sample", "run-ipmi-sim.sh")
# Where the module keeps its files inside ipmi_sim's state directory.
STORE_DIR = "roster-bmc"
INVENTORY_FILE = "inventory.bin"
SATA_FILE = re.compile(r"^sata-(\d\d)\.bin$")
INVENTORY_HEADER, SATA_HEADER = 0x5AC8, 0xA7E8
# The inventory command's network function and command, and the chunked transfer's WRITE step.
LARGE_NETFN, LARGE_COMMAND, STEP_OPEN, STEP_WRITE, STEP_COMMIT = 0x32, 0x5A, 1, 2, 3
SATA_NETFN, SATA_COMMAND = 0x3A, 0xA7
# WRITE: step, reserved, session (2), offset (4), CRC-16 (2), then the chunk.
WRITE_HEADER_SIZE = 10
# ipmi_sim may outlive SIGTERM for a while.
STOP_SECONDS = 3.0
START_SECONDS = 20.0
# The read-back summary (interfaces/BmcInventorySummary.h), completion code first.
SUMMARY = struct.Struct("<BBIIIIIBBBBBBBBBB")
SUMMARY_FIELDS = ("code flags total_size header_version header_size stored_crc computed_crc bios identity "
                  "cpu_present dimm_present pci_present record_count cpu_records dimm_records pci_records "
                  "sata_messages").split()
SUMMARY_ALL_GOOD = 0x1F


def free_port(kind=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, kind) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def kcs_args(port):
    """QEMU's KCS interface with its BMC outside, reached on 127.0.0.1:port. QEMU starts
    without it and retries every 10 s; until then every request is answered 0xD2."""
    return ["-chardev", f"socket,id=ipmi0,host=127.0.0.1,port={port},reconnect=10",
            "-device", "ipmi-bmc-extern,id=bmc0,chardev=ipmi0",
            "-device", "isa-ipmi-kcs,bmc=bmc0"]


def stop_process(process, seconds=STOP_SECONDS):
    """SIGTERM, then SIGKILL after seconds; waits a bounded time for either."""
    if process is None or process.poll() is not None:
        return
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(timeout=seconds)


@dataclasses.dataclass
class Stored:
    """The module's files: the last inventory, the boot's SATA_INFO messages in arrival
    order, and anything else found (a leftover temporary file is a fault)."""
    inventory: bytes = None
    sata: list = dataclasses.field(default_factory=list)
    other: list = dataclasses.field(default_factory=list)

    def deliveries(self):
        """What the BMC stored, as the calls the checks judge (the file names the command)."""
        calls = []
        if self.inventory is not None:
            calls.append(board_report.BmcCall("SendLargeCommand", INVENTORY_HEADER, len(self.inventory), self.inventory))
        calls += [board_report.BmcCall("SendCommand", SATA_HEADER, len(data), data) for data in self.sata]
        return calls

    def paths(self, folder):
        names = ([INVENTORY_FILE] if self.inventory is not None else [])
        names += [f"sata-{index:02d}.bin" for index in range(len(self.sata))]
        return [os.path.join(folder, name) for name in names]


def read_store(folder):
    stored = Stored()
    if not os.path.isdir(folder):
        return stored
    numbered = {}
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        match = SATA_FILE.match(name)
        if name == INVENTORY_FILE:
            stored.inventory = board_qemu.read_file(path)
        elif match:
            numbered[int(match[1])] = board_qemu.read_file(path)
        else:
            stored.other.append(name)
    # The files are numbered from 0 in arrival order; a gap is reported as another file.
    for index in range(len(numbered)):
        if index not in numbered:
            stored.other.append(f"(no sata-{index:02d}.bin)")
            break
        stored.sata.append(numbered[index])
    return stored


def parse_summary(words):
    """ipmitool raw's answer (hex bytes after the completion code) as the summary's fields."""
    data = bytes([0]) + bytes(int(word, 16) for word in words)
    if len(data) != SUMMARY.size:
        return None
    return dict(zip(SUMMARY_FIELDS, SUMMARY.unpack(data)))


class IpmiSim(board_qemu.Service):
    """ipmi_sim with the BMC module, started by bmc/sample/run-ipmi-sim.sh (which writes
    lan.conf and emu.cmd into the state directory and becomes ipmi_sim, keeping its pid),
    on a free TCP port for QEMU and a free UDP port for the LAN. state is the directory
    to use (a fresh one under the run's root unless given, so a later boot can find what
    an earlier one stored). attach=False leaves QEMU's side to another service (a tap)."""

    def __init__(self, module, options="", state=None, attach=True, run_script=RUN_SCRIPT):
        self.module = module
        self.attach = attach
        self.options = options
        self.state = state
        self.run_script = run_script
        self.process = None
        self.kcs_port = None
        self.lan_port = None
        self.launches = 0

    def start(self, root):
        if self.state is None:
            self.state = os.path.join(root, "bmc")
        os.makedirs(self.state, exist_ok=True)
        self.kcs_port = free_port(socket.SOCK_STREAM)
        self.lan_port = free_port(socket.SOCK_DGRAM)
        self.launch()
        return kcs_args(self.kcs_port) if self.attach else []

    def launch(self):
        """Starts ipmi_sim on the service's ports and state and waits until it listens."""
        self.launches += 1
        with open(os.path.join(self.state, f"ipmi_sim.{self.launches}.log"), "wb") as log:
            self.process = subprocess.Popen(
                ["bash", self.run_script, "--module", self.module, "--options", self.options,
                 "--lan-port", str(self.lan_port), "--kcs-port", str(self.kcs_port), self.state],
                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + START_SECONDS
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError(f"ipmi_sim ended with {self.process.returncode}: {self.log_text()[-400:]}")
            # The first connection it accepts would be QEMU's, so this only looks for the
            # listening socket in the kernel's table instead of connecting.
            if self.listening():
                return
            time.sleep(0.05)
        self.stop()
        raise RuntimeError(f"ipmi_sim did not listen on 127.0.0.1:{self.kcs_port} within {START_SECONDS:g} s")

    def listening(self):
        wanted = f"0100007F:{self.kcs_port:04X}"
        for line in board_qemu.read_file("/proc/net/tcp").decode("ascii", "replace").splitlines()[1:]:
            words = line.split()
            if len(words) > 3 and words[1] == wanted and words[3] == "0A":
                return True
        return False

    def log_text(self):
        return board_qemu.read_file(os.path.join(self.state, f"ipmi_sim.{self.launches}.log")).decode("latin-1")

    def running(self):
        return self.process is not None and self.process.poll() is None

    def kill(self):
        """SIGKILL, as a power cut would."""
        if self.running():
            self.process.kill()
            self.process.wait(timeout=STOP_SECONDS)

    def restart(self):
        """Killed and started again on the same ports and state directory."""
        self.kill()
        self.launch()

    def stop(self):
        stop_process(self.process)

    def store_dir(self):
        return os.path.join(self.state, STORE_DIR)

    def stored(self):
        return read_store(self.store_dir())

    def ipmitool_command(self, *words):
        return ["ipmitool", "-I", "lan", "-H", "127.0.0.1", "-p", str(self.lan_port), "-U", "ipmiusr", "-P", "test",
                "-N", "1", "-R", "3", *words]

    def read_back(self):
        """The read-back command over the LAN: (ipmitool's words, the summary or None)."""
        try:
            run = subprocess.run(self.ipmitool_command("raw", "0x32", "0x5B"), stdin=subprocess.DEVNULL,
                                 capture_output=True, text=True, timeout=20)
        except (OSError, subprocess.TimeoutExpired) as error:
            return f"ipmitool: {error}", None
        if run.returncode != 0:
            return run.stderr.strip() or f"ipmitool exited {run.returncode}", None
        return run.stdout.strip(), parse_summary(run.stdout.split())


class NoBmc(board_qemu.Service):
    """The KCS interface with nothing behind it: QEMU's chardev points at a free port where
    no one listens."""

    def start(self, root):
        return kcs_args(free_port())


class LoopbackPeer(board_qemu.Service):
    """Where QEMU's KCS chardev connects instead of the BMC: a listener on a free 127.0.0.1
    port served by a thread (serve(), polling self.quit) until stop()."""

    def __init__(self):
        self.listener = None
        self.thread = None
        self.quit = threading.Event()

    def start(self, root):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()
        return kcs_args(self.listener.getsockname()[1])

    def stop(self):
        self.quit.set()
        if self.thread is not None:
            self.thread.join(timeout=5)
        if self.listener is not None:
            self.listener.close()


class SilentBmc(LoopbackPeer):
    """A BMC that takes QEMU's connection and every byte on it and never answers: QEMU
    answers each request itself (0xC3) after its own 4 s."""

    def __init__(self):
        super().__init__()
        self.requests = 0

    def serve(self):
        connections, decoder = [], VmDecoder()
        while not self.quit.is_set():
            ready, _, _ = select.select([self.listener] + connections, [], [], 0.2)
            for side in ready:
                if side is self.listener:
                    connections.append(self.listener.accept()[0])
                    continue
                data = side.recv(65536)
                if not data:
                    connections.remove(side)
                    side.close()
                self.requests += sum(1 for kind, _ in decoder.feed(data) if kind == "msg")
        for side in connections:
            side.close()


# --- QEMU's side of the VM socket: messages end with 0xA0, control commands with 0xA1;
# 0xAA escapes the next byte, which then has bit 4 set. A message is the message id, the
# network function and LUN, the command, the data and a checksum that makes the sum zero.
VM_MSG, VM_CMD, VM_ESCAPE = 0xA0, 0xA1, 0xAA


class VmDecoder:
    """Splits a byte stream into ("msg"|"cmd", unescaped bytes) frames."""

    def __init__(self):
        self.frame = bytearray()
        self.escape = False

    def feed(self, data):
        frames = []
        for byte in data:
            if byte in (VM_MSG, VM_CMD):
                frames.append(("msg" if byte == VM_MSG else "cmd", bytes(self.frame)))
                self.frame.clear()
                self.escape = False
            elif byte == VM_ESCAPE:
                self.escape = True
            else:
                self.frame.append(byte & ~0x10 if self.escape else byte)
                self.escape = False
        return frames


def vm_encode(kind, frame):
    out = bytearray()
    for byte in frame:
        if byte in (VM_MSG, VM_CMD, VM_ESCAPE):
            out += bytes([VM_ESCAPE, byte | 0x10])
        else:
            out.append(byte)
    out.append(VM_MSG if kind == "msg" else VM_CMD)
    return bytes(out)


def with_checksum(body):
    return bytes(body) + bytes([-sum(body) & 0xFF])


def transfer_step(frame):
    """The chunked transfer's step of a request frame, or None for any other message."""
    if len(frame) < 5 or sum(frame) & 0xFF:
        return None
    if frame[1] >> 2 != LARGE_NETFN or frame[2] != LARGE_COMMAND:
        return None
    return frame[3]


def spoil_chunk(frame):
    """The WRITE with its first chunk byte inverted and the message checksum made good
    again: only the chunk's own CRC-16 tells the BMC."""
    body = bytearray(frame[:-1])
    body[3 + WRITE_HEADER_SIZE] ^= 0xFF
    return with_checksum(body)


class VmTap(LoopbackPeer):
    """Sits between QEMU and the BMC's VM socket (an IpmiSim started before it with
    attach=False) and passes every frame both ways. With
    spoil_write=N it inverts a byte of the Nth WRITE's chunk; with hold_write=N it keeps
    the Nth WRITE back and calls on_hold() (the runner kills the BMC there). Either way
    it notes when it saw the first OPEN and the answer to the COMMIT. When the BMC's side
    closes it closes QEMU's, so QEMU answers its pending request itself, and waits for
    QEMU to come again."""

    def __init__(self, bmc, spoil_write=None, hold_write=None, on_hold=None):
        super().__init__()
        self.bmc = bmc
        self.spoil_write = spoil_write
        self.hold_write = hold_write
        self.on_hold = on_hold
        self.writes = 0
        self.held = threading.Event()
        self.spoiled = False
        self.open_seen = None
        self.commit_answered = None
        # When each SATA_INFO answer passed back to QEMU.
        self.sata_answers = []
        self.commit_id = None

    def serve(self):
        while not self.quit.is_set():
            ready, _, _ = select.select([self.listener], [], [], 0.2)
            if not ready:
                continue
            guest, _ = self.listener.accept()
            try:
                upstream = socket.create_connection(("127.0.0.1", self.bmc.kcs_port), timeout=5)
            except OSError:
                guest.close()
                continue
            try:
                self.pump(guest, upstream)
            finally:
                guest.close()
                upstream.close()

    def from_guest(self, frame):
        """What goes on to the BMC for one of QEMU's frames (None: nothing)."""
        step = transfer_step(frame)
        if step == STEP_OPEN and self.open_seen is None:
            self.open_seen = time.monotonic()
        elif step == STEP_COMMIT:
            self.commit_id = frame[0]
        elif step == STEP_WRITE and len(frame) > 3 + WRITE_HEADER_SIZE + 1:
            self.writes += 1
            if self.writes == self.hold_write:
                self.held.set()
                if self.on_hold is not None:
                    self.on_hold()
                return None
            if self.writes == self.spoil_write:
                self.spoiled = True
                return spoil_chunk(frame)
        return frame

    def from_bmc(self, frame):
        if self.commit_id is not None and frame and frame[0] == self.commit_id and self.commit_answered is None:
            self.commit_answered = time.monotonic()
        if len(frame) >= 3 and frame[1] >> 2 == SATA_NETFN | 1 and frame[2] == SATA_COMMAND:
            self.sata_answers.append(time.monotonic())

    def pump(self, guest, upstream):
        decoders = {guest: VmDecoder(), upstream: VmDecoder()}
        # What follows a held chunk on this connection stays with the tap; QEMU's next
        # connection (to the restarted BMC) passes again.
        holding = False
        while not self.quit.is_set():
            ready, _, _ = select.select([guest, upstream], [], [], 0.2)
            for side in ready:
                try:
                    data = side.recv(65536)
                except OSError:
                    data = b""
                if not data:
                    return
                other = upstream if side is guest else guest
                out = bytearray()
                for kind, frame in decoders[side].feed(data):
                    if side is guest and holding:
                        frame = None
                    elif side is guest and kind == "msg":
                        frame = self.from_guest(frame)
                        holding = frame is None
                    elif kind == "msg":
                        self.from_bmc(frame)
                    if frame is not None:
                        out += vm_encode(kind, frame)
                if out:
                    try:
                        other.sendall(out)
                    except OSError:
                        return

    def sata_seconds(self):
        """From the COMMIT's answer to the last SATA_INFO answer: the messages after the image."""
        if self.commit_answered is None or not self.sata_answers:
            return None
        return self.sata_answers[-1] - self.commit_answered

    def transfer_seconds(self):
        if self.open_seen is None or self.commit_answered is None:
            return None
        return self.commit_answered - self.open_seen
