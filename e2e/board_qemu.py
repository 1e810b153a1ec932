"""Turns the board definition into a QEMU command line and its files, and runs QEMU as
one session every real-firmware runner shares: start, capture of the serial port and the
debug console, key presses through QMP, a bounded wait, stop by pid. Python standard
library only."""

import json
import os
import re
import shutil
import socket
import subprocess
import time

import board_model

ESP_FILES = {"BoardHarness.efi": os.path.join("EFI", "BOOT", "BOOTX64.EFI"),
             "Roster.efi": "Roster.efi", "Hotlatch.efi": "Hotlatch.efi"}
# The platform's management transport, when the run has one: the harness then loads it
# before the drivers and installs no transport of its own.
PLATFORM_TRANSPORT = "KcsTransport.efi"
# ANSI sequences OVMF's terminal driver writes around console text.
ESCAPE = re.compile(r"\x1b\[[0-9;?=]*[A-Za-z]|\x1b[()][A-Za-z0-9]")
# The hot key, as QMP names the keys.
KEY_QCODES = ("ctrl", "alt", "d")
# QEMU's debug console, where firmware that runs before the consoles writes its report.
DEBUGCON_PORT = 0x402
# Once the report is complete the firmware powers off; this long it may take.
POWER_OFF_SECONDS = 15.0


def clean_lines(raw):
    """The lines of a captured console, escape sequences and line ends removed."""
    text = ESCAPE.sub("", raw.decode("latin-1"))
    return [line.strip("\r").strip() for line in text.replace("\r\n", "\n").split("\n")]


def progress(started, text):
    print(f"[{time.monotonic() - started:5.1f}s] {text}", flush=True)


def root_port_args(ports, bus, models):
    """Root ports on one root bus, each followed by its endpoints."""
    args = []
    ports = sorted(ports, key=lambda port: board_model.parse_addr(port["addr"]))
    for port in ports:
        device_number, function = board_model.parse_addr(port["addr"])
        device_arg = (f"pcie-root-port,id={port['id']},bus={bus},addr={port['addr']},chassis={port['chassis']},"
                      f"port={port['port']},x-speed={port['speed']},x-width={port['width']}")
        # Function 0 of a device that carries more root ports must say so.
        if function == 0 and any(board_model.parse_addr(other["addr"])[0] == device_number and other is not port
                                 for other in ports):
            device_arg += ",multifunction=on"
        args += ["-device", device_arg]
        for endpoint in sorted(port["endpoints"], key=lambda e: e["function"]):
            if endpoint["model"] not in models:
                raise board_model.BoardError(f"unknown model {endpoint['model']}")
            device_arg = f"{endpoint['model']},bus={port['id']},addr=00.{endpoint['function']},romfile="
            if endpoint.get("multifunction"):
                device_arg += ",multifunction=on"
            for key, value in endpoint.get("props", {}).items():
                device_arg += f",{key}={value}"
            args += ["-device", device_arg]
    return args


def device_args(board):
    """-device and -drive arguments for the board's PCI devices, in a stable order."""
    models = board["device_models"]
    args = []
    for device in board["bus0_devices"]:
        device_arg = f"{device['model']},addr={device['addr']}"
        if device.get("multifunction"):
            device_arg += ",multifunction=on"
        args += ["-device", device_arg]
    args += root_port_args(board["root_ports"], "pcie.0", models)
    return args


def expander_args(board):
    """Each expander bridge is one more root bridge with a root bus of its own. QEMU plugs
    a device named without a bus into the newest bus, so these come last."""
    args = []
    for expander in sorted(board.get("expander_bridges", []), key=lambda e: board_model.number(e["bus_nr"])):
        args += ["-device", f"pxb-pcie,id={expander['id']},bus_nr={board_model.number(expander['bus_nr'])},"
                            f"bus=pcie.0,addr={expander['addr']}"]
        args += root_port_args(expander["root_ports"], expander["id"], board["device_models"])
    return args


def sata_args(board, disk_dir):
    """AHCI controllers at the board's addresses with sparse raw drives on chosen ports."""
    args = []
    for controller in sorted(board["sata_controllers"], key=lambda c: board_model.parse_addr(c["addr"])):
        args += ["-device", f"ich9-ahci,id={controller['id']},addr={controller['addr']}"]
        for drive in controller["drives"]:
            name = f"{controller['id']}-p{drive['port']}"
            image = os.path.join(disk_dir, name + ".img")
            with open(image, "wb") as handle:
                handle.truncate(drive["size_bytes"])
            args += ["-drive", f"if=none,id={name},format=raw,file={image}",
                     "-device", f"ide-hd,bus={controller['id']}.{drive['port']},drive={name},"
                                f"serial={drive['serial']},model={drive['model']}"]
    return args


def smbios_args(board, smbios_dir):
    args = []
    for name, blob in board_model.smbios_files(board):
        path = os.path.join(smbios_dir, name + ".bin")
        with open(path, "wb") as handle:
            handle.write(blob)
        args += ["-smbios", f"file={path}"]
    return args


def build_esp(root, files, contents=None):
    """A FAT folder for QEMU: files maps a path on the ESP to the file copied there,
    contents a path on the ESP to the bytes written there."""
    esp = os.path.join(root, "esp")
    os.makedirs(esp)
    for relative, source in files.items():
        os.makedirs(os.path.join(esp, os.path.dirname(relative)), exist_ok=True)
        shutil.copyfile(source, os.path.join(esp, relative))
    for relative, data in (contents or {}).items():
        with open(os.path.join(esp, relative), "wb") as handle:
            handle.write(data)
    return esp


def esp_args(esp, addr):
    """The ESP as the first boot device, a virtio disk at addr."""
    return ["-drive", f"if=none,id=esp,format=raw,file=fat:rw:{esp}",
            "-device", f"virtio-blk-pci,drive=esp,addr={addr},bootindex=0"]


def machine_args(qemu, machine, firmware, root, serial, qmp=None):
    """The machine half of a command line: the machine type, memory, CPUs, the firmware
    flash (the variable store a private copy under root), the serial log and QMP.
    machine has type, accel and memory_mb, and either cpus or sockets, cores and threads;
    firmware has code and vars. A machine that boots differently (another -machine
    property, secure flash, a kernel instead of an ESP) is another builder of these
    arguments; the session runs any command line."""
    vars_copy = os.path.join(root, "OVMF_VARS.fd")
    shutil.copyfile(firmware["vars"], vars_copy)
    if "sockets" in machine:
        smp = (f"{machine['sockets'] * machine['cores'] * machine['threads']},sockets={machine['sockets']},"
               f"cores={machine['cores']},threads={machine['threads']}")
    else:
        smp = str(machine["cpus"])
    command = [
        qemu,
        "-machine", f"{machine['type']},accel={machine['accel']}",
        "-m", str(machine["memory_mb"]),
        "-smp", smp,
        "-nodefaults", "-nographic", "-monitor", "none", "-no-reboot",
        "-serial", f"file:{serial}",
    ]
    if qmp is not None:
        command += ["-qmp", f"unix:{qmp},server=on,wait=off"]
    command += [
        "-drive", f"if=pflash,format=raw,readonly=on,file={firmware['code']}",
        "-drive", f"if=pflash,format=raw,file={vars_copy}",
    ]
    return command


def debugcon_args(path):
    return ["-debugcon", f"file:{path}", "-global", f"isa-debugcon.iobase={DEBUGCON_PORT:#x}"]


def qemu_command(board, qemu, root, images):
    """Everything QEMU needs, with its files created under root; images=None for a board
    without an ESP. images may add PLATFORM_TRANSPORT, which goes on the ESP too and
    tells the harness to use it."""
    os.makedirs(root, exist_ok=True)
    for folder in ("smbios", "disks"):
        os.makedirs(os.path.join(root, folder), exist_ok=True)
    serial = os.path.join(root, "serial.log")
    qmp = os.path.join(root, "qmp.sock")
    command = machine_args(qemu, board["machine"], board["firmware"], root, serial, qmp)
    # Without images the board has no ESP: whatever runs comes from the firmware itself.
    if images is not None:
        files = {relative: images[name] for name, relative in ESP_FILES.items()}
        platform = images.get(PLATFORM_TRANSPORT)
        if platform is not None:
            files[PLATFORM_TRANSPORT] = platform
        esp = build_esp(root, files, {"BOARD.CFG": board_model.harness_config(board, platform is not None)})
        command += esp_args(esp, board["esp"]["addr"])
    command += smbios_args(board, os.path.join(root, "smbios"))
    command += device_args(board)
    command += sata_args(board, os.path.join(root, "disks"))
    command += expander_args(board)
    return command, serial, qmp


def add_run_options(parser, timeout):
    """The options every board runner takes: QEMU, time limit, what to keep, how much to print."""
    parser.add_argument("--qemu", default="qemu-system-x86_64")
    parser.add_argument("--timeout", type=float, default=timeout)
    parser.add_argument("--bmc-out", help="write the BMC calls here, as roster-decode reads them")
    parser.add_argument("--serial-out", help="keep the serial log here")
    parser.add_argument("--verbose", action="store_true")
    parser.add_argument("--failures-only", action="store_true", help="print only the checks that failed")


class Qmp:
    """A minimal QMP client: one command at a time, events skipped."""

    def __init__(self, path, timeout=10.0):
        deadline = time.monotonic() + timeout
        while True:
            try:
                self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                self.sock.settimeout(timeout)
                self.sock.connect(path)
                break
            except OSError:
                self.sock.close()
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.05)
        self.buffer = b""
        self._read_message()  # greeting
        self.execute("qmp_capabilities")

    def _read_message(self):
        while b"\n" not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError("QMP closed")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line)

    def execute(self, command, arguments=None):
        message = {"execute": command}
        if arguments is not None:
            message["arguments"] = arguments
        self.sock.sendall(json.dumps(message).encode() + b"\n")
        while True:
            reply = self._read_message()
            if "return" in reply:
                return reply["return"]
            if "error" in reply:
                raise RuntimeError(f"QMP {command}: {reply['error']}")

    def send_keys(self, qcodes, hold_ms=200):
        keys = [{"type": "qcode", "data": code} for code in qcodes]
        return self.execute("send-key", {"keys": keys, "hold-time": hold_ms})

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


class Service:
    """Something a run starts beside QEMU, such as a management controller simulator on
    127.0.0.1 ports: the session starts it before QEMU, adds the arguments start()
    returns (the -chardev and -device lines that reach it) to QEMU's command line, and
    stops it after QEMU, by its own pid, even when QEMU never started."""

    def start(self, root):
        return []

    def stop(self):
        pass


class Session:
    """One QEMU run: started with a command line and the services beside it, read through
    its serial log and debug console, pressed through QMP, waited for with a limit, and
    stopped by pid. As a context manager it always stops, so nothing is left running."""

    def __init__(self, command, root, serial, qmp=None, debugcon=None, services=(), verbose=False):
        self.command = list(command)
        self.root = root
        self.serial_path = serial
        self.qmp_path = qmp
        self.debugcon_path = debugcon
        self.services = list(services)
        self.verbose = verbose
        self.process = None
        self.qmp = None
        self.output = ""
        self.started_services = []

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        try:
            for service in self.services:
                self.started_services.append(service)
                self.command += service.start(self.root)
            if self.verbose:
                print(" ".join(self.command))
            self.process = subprocess.Popen(self.command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                            stderr=subprocess.STDOUT)
            if self.qmp_path is not None:
                self.qmp = Qmp(self.qmp_path)
        except BaseException:
            self.stop()
            raise

    def serial(self):
        return read_file(self.serial_path)

    def debugcon(self):
        return read_file(self.debugcon_path) if self.debugcon_path else b""

    def press(self, qcodes=KEY_QCODES):
        self.qmp.send_keys(qcodes)

    def wait(self, timeout, report=None, completion=None, on_poll=None, interval=0.1):
        """Polls until QEMU ends, at most timeout seconds, and once the completion line
        shows in report() (the serial log unless said) at most POWER_OFF_SECONDS more.
        on_poll(text) sees the report on every poll. Returns None when QEMU ended by
        itself, else what went wrong."""
        report = report or self.serial
        deadline = time.monotonic() + timeout
        problem = f"timed out after {timeout} s"
        while self.process.poll() is None:
            if time.monotonic() > deadline:
                return problem
            time.sleep(interval)
            text = report().decode("latin-1")
            if on_poll is not None:
                on_poll(text)
            if completion is not None and completion in text and time.monotonic() + POWER_OFF_SECONDS < deadline:
                deadline = time.monotonic() + POWER_OFF_SECONDS
                problem = f"still running {POWER_OFF_SECONDS:g} s after \"{completion}\""
        return None

    def returncode(self):
        return None if self.process is None else self.process.returncode

    def stop(self):
        """Ends QEMU by its pid if it still runs, then the services, last started first;
        keeps what QEMU printed in self.output."""
        if self.qmp is not None:
            self.qmp.close()
            self.qmp = None
        # A start that failed has stopped already; a second stop only returns the output.
        if self.process is not None and not self.process.stdout.closed:
            if self.process.poll() is None:
                self.process.kill()
            self.output = (self.process.communicate()[0] or b"").decode("latin-1", "replace")
        while self.started_services:
            self.started_services.pop().stop()
        return self.output

    def print_output(self):
        # NICs without a network are the board's choice, not a problem worth a line.
        for line in self.output.splitlines():
            if line.strip() and "has no peer" not in line:
                print(line)


class Milestones:
    """Prints a progress line the first time each report line shows, in order."""

    def __init__(self, started, milestones):
        self.started = started
        self.pending = list(milestones)

    def update(self, text):
        while self.pending and self.pending[0][0] in text:
            progress(self.started, self.pending.pop(0)[1])


def read_file(path):
    try:
        with open(path, "rb") as handle:
            return handle.read()
    except FileNotFoundError:
        return b""


def missing_inputs(files, qemu):
    """What a run cannot start without: each of files (label to path) that is not there,
    and QEMU when it is not on the path."""
    missing = []
    for label, path in files.items():
        if not os.path.isfile(path):
            hint = "; Debian package ovmf" if label.startswith("OVMF") else ""
            missing.append(label if label == path else f"{label} ({path}{hint})")
    if shutil.which(qemu) is None:
        missing.append(f"QEMU ({qemu}; Debian package qemu-system-x86)")
    return missing
