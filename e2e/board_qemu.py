"""Turns the board definition into a QEMU command line and its files, and drives the
running machine through QMP. Python standard library only."""

import json
import os
import shutil
import socket
import subprocess
import time

import board_model

ESP_FILES = {"BoardHarness.efi": os.path.join("EFI", "BOOT", "BOOTX64.EFI"),
             "Roster.efi": "Roster.efi", "Hotlatch.efi": "Hotlatch.efi"}


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


def build_esp(root, images, board):
    esp = os.path.join(root, "esp")
    os.makedirs(os.path.join(esp, "EFI", "BOOT"))
    for name, relative in ESP_FILES.items():
        shutil.copyfile(images[name], os.path.join(esp, relative))
    with open(os.path.join(esp, "BOARD.CFG"), "wb") as handle:
        handle.write(board_model.harness_config(board))
    return esp


def qemu_command(board, qemu, root, images):
    """Everything QEMU needs, with its files created under root; images=None for a board
    without an ESP."""
    machine = board["machine"]
    firmware = board["firmware"]
    os.makedirs(root, exist_ok=True)
    vars_copy = os.path.join(root, "OVMF_VARS.fd")
    shutil.copyfile(firmware["vars"], vars_copy)
    for folder in ("smbios", "disks"):
        os.makedirs(os.path.join(root, folder), exist_ok=True)
    serial = os.path.join(root, "serial.log")
    qmp = os.path.join(root, "qmp.sock")
    command = [
        qemu,
        "-machine", f"{machine['type']},accel={machine['accel']}",
        "-m", str(machine["memory_mb"]),
        "-smp", f"{machine['sockets'] * machine['cores'] * machine['threads']},sockets={machine['sockets']},"
                f"cores={machine['cores']},threads={machine['threads']}",
        "-nodefaults", "-nographic", "-monitor", "none", "-no-reboot",
        "-serial", f"file:{serial}",
        "-qmp", f"unix:{qmp},server=on,wait=off",
        "-drive", f"if=pflash,format=raw,readonly=on,file={firmware['code']}",
        "-drive", f"if=pflash,format=raw,file={vars_copy}",
    ]
    # Without images the board has no ESP: whatever runs comes from the firmware itself.
    if images is not None:
        esp = build_esp(root, images, board)
        command += ["-drive", f"if=none,id=esp,format=raw,file=fat:rw:{esp}",
                    "-device", f"virtio-blk-pci,drive=esp,addr={board['esp']['addr']},bootindex=0"]
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


def stop(process, qmp):
    """Closes the QMP connection, ends QEMU if it still runs and prints what it said."""
    if qmp is not None:
        qmp.close()
    if process.poll() is None:
        process.kill()
    output = process.communicate()[0] or b""
    # NICs without a network are the board's choice, not a problem worth a line.
    for line in output.decode("latin-1", "replace").splitlines():
        if line.strip() and "has no peer" not in line:
            print(line)


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


def start(command):
    return subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
