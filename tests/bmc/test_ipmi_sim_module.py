"""The BMC module in a real ipmi_sim, driven by ipmitool over the simulator's LAN interface.

One chunked transfer of a whole inventory image and SATA_INFO messages (the first two refused
by the module's fault option, as a busy controller would), the read-back summary, the stored
files decoded by roster-decode; then ipmi_sim is killed (SIGKILL) in the middle of a second
transfer and restarted on the same state directory: the first inventory is still there whole,
and a fresh transfer succeeds.

Environment: ROSTER_BMC_MODULE (the .so), ROSTER_DECODE (the decoder), BMC_TEST_IMAGES (the
program that writes the images), BMC_RUN_SCRIPT (bmc/sample/run-ipmi-sim.sh).
"""

import os
import re
import signal
import socket
import struct
import subprocess
import tempfile
import time
import unittest
import zlib

STEP_OPEN, STEP_WRITE, STEP_COMMIT, STEP_ABORT = 1, 2, 3, 4
INVENTORY_HEADER = 0x5AC8  # netfn 0x32 << 2, command 0x5A
# ipmitool's LAN interface carries at most about 198 request bytes; the transfer's chunk may
# be anything up to 224, so over LAN it is smaller.
CHUNK = 160
SUMMARY = struct.Struct("<BBIIIIIBBBBBBBBBB")
COMMAND_TIMEOUT = 15


def crc16_ccitt_false(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) & 0xFFFF if crc & 0x8000 else (crc << 1) & 0xFFFF
    return crc


def free_port(kind):
    with socket.socket(socket.AF_INET, kind) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def hex_args(data):
    return ["0x%02x" % byte for byte in data]


class Bmc:
    """One ipmi_sim process with the module, on its own ports and state directory."""

    def __init__(self, state, options):
        self.state = state
        self.options = options
        self.process = None
        self.lan_port = None
        self.log = None

    def start(self):
        self.lan_port = free_port(socket.SOCK_DGRAM)
        kcs_port = free_port(socket.SOCK_STREAM)
        self.log = open(os.path.join(self.state, "ipmi_sim.%d.log" % time.monotonic_ns()), "wb")
        self.process = subprocess.Popen(
            ["bash", os.environ["BMC_RUN_SCRIPT"], "--module", os.environ["ROSTER_BMC_MODULE"],
             "--lan-port", str(self.lan_port), "--kcs-port", str(kcs_port), "--options", self.options,
             self.state],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise AssertionError("ipmi_sim ended with %d" % self.process.returncode)
            try:
                code, _ = self.raw(0x32, 0x5B, b"")
                if code == 0:
                    return
            except AssertionError:
                pass
            time.sleep(0.2)
        raise AssertionError("ipmi_sim did not answer the read-back command within 20 s")

    def kill(self):
        """SIGKILL, as a power cut would; bounded wait."""
        if self.process is not None and self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
            self.process.wait(timeout=10)
        self.process = None
        if self.log:
            self.log.close()
            self.log = None

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=3)
            except subprocess.TimeoutExpired:
                pass
        self.kill()

    def ipmitool(self, *args):
        return subprocess.run(
            ["ipmitool", "-I", "lan", "-H", "127.0.0.1", "-p", str(self.lan_port), "-U", "ipmiusr", "-P", "test",
             "-N", "1", "-R", "2", *args],
            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=COMMAND_TIMEOUT)

    def raw(self, netfn, command, data):
        """The completion code and the response bytes after it."""
        result = self.ipmitool("raw", "0x%02x" % netfn, "0x%02x" % command, *hex_args(data))
        if result.returncode == 0:
            return 0, bytes(int(word, 16) for word in result.stdout.split())
        code = re.search(r"rsp=0x([0-9a-fA-F]{2})", result.stderr)
        if not code:
            raise AssertionError("no answer from the BMC: " + result.stderr.strip())
        return int(code.group(1), 16), b""

    # --- The chunked large command, step by step.
    def open(self, total):
        code, rest = self.raw(0x32, 0x5A, struct.pack("<BBHI", STEP_OPEN, 0, INVENTORY_HEADER, total))
        return code, (struct.unpack("<H", rest)[0] if code == 0 else 0)

    def write_step(self, session, offset, chunk, crc=None):
        crc = crc16_ccitt_false(chunk) if crc is None else crc
        return (0x32, 0x5A, struct.pack("<BBHIH", STEP_WRITE, 0, session, offset, crc) + chunk)

    def write(self, session, offset, chunk, crc=None):
        return self.raw(*self.write_step(session, offset, chunk, crc))[0]

    def write_all(self, session, image, start=0, end=None):
        """WRITEs from start to end in CHUNK-sized pieces; the offsets refused, with their codes.
        One ipmitool run per step: its batch mode cuts a line at 64 words."""
        end = len(image) if end is None else end
        refused = []
        for offset in range(start, end, CHUNK):
            code = self.write(session, offset, image[offset:min(offset + CHUNK, end)])
            if code != 0:
                refused.append((offset, code))
        return refused

    def commit(self, session, image):
        return self.raw(0x32, 0x5A, struct.pack("<BBHI", STEP_COMMIT, 0, session, zlib.crc32(image)))[0]

    def transfer(self, image):
        code, session = self.open(len(image))
        if code != 0:
            return code
        errors = self.write_all(session, image)
        if errors:
            raise AssertionError("WRITE refused: %s" % errors[:3])
        return self.commit(session, image)

    def summary(self):
        code, rest = self.raw(0x32, 0x5B, b"")
        if code != 0 or len(rest) != SUMMARY.size - 1:
            raise AssertionError("read-back answered 0x%02x with %d bytes" % (code, len(rest)))
        fields = SUMMARY.unpack(bytes([code]) + rest)
        names = ("code flags total_size header_version header_size stored_crc computed_crc bios identity cpu_present "
                 "dimm_present pci_present record_count cpu_records dimm_records pci_records sata_messages").split()
        return dict(zip(names, fields))


class IpmiSimModuleTest(unittest.TestCase):
    def setUp(self):
        for name in ("ROSTER_BMC_MODULE", "ROSTER_DECODE", "BMC_TEST_IMAGES", "BMC_RUN_SCRIPT"):
            self.assertIn(name, os.environ, "set by ctest")
        self.work = tempfile.TemporaryDirectory(prefix="bmc-ipmi-sim-")
        self.addCleanup(self.work.cleanup)
        images = os.path.join(self.work.name, "images")
        subprocess.run([os.environ["BMC_TEST_IMAGES"], images], check=True, timeout=30)
        self.images = {}
        for name in os.listdir(images):
            with open(os.path.join(images, name), "rb") as source:
                self.images[name] = source.read()
        self.state = os.path.join(self.work.name, "state")
        os.makedirs(self.state)
        self.stored = os.path.join(self.state, "roster-bmc")
        self.bmc = Bmc(self.state, "sata_fail=2:0xC0")
        self.addCleanup(self.bmc.stop)
        self.bmc.start()

    def stored_files(self):
        return sorted(os.listdir(self.stored))

    def read_stored(self, name):
        with open(os.path.join(self.stored, name), "rb") as source:
            return source.read()

    def decode(self, *names):
        return subprocess.run([os.environ["ROSTER_DECODE"], *[os.path.join(self.stored, n) for n in names]],
                              capture_output=True, text=True, timeout=30)

    def test_transfer_store_kill_and_restart(self):
        full, second = self.images["full.bin"], self.images["second.bin"]
        self.assertEqual(len(full), 23063)

        self.assertEqual(self.bmc.transfer(full), 0)
        drive, empty = self.images["sata-drive.bin"], self.images["sata-empty.bin"]
        # The host's three attempts at its first message: two refused as configured.
        self.assertEqual([self.bmc.raw(0x3A, 0xA7, drive)[0] for _ in range(3)], [0xC0, 0xC0, 0])
        self.assertEqual(self.bmc.raw(0x3A, 0xA7, empty)[0], 0)
        self.assertEqual(self.bmc.raw(0x3A, 0xA7, empty[:64])[0], 0xC7)

        summary = self.bmc.summary()
        self.assertEqual(summary["flags"], 0x1F)  # stored, signature, size, CRC, records framed
        self.assertEqual((summary["total_size"], summary["header_size"]), (23063, 23060))
        self.assertEqual(summary["stored_crc"], zlib.crc32(full[3:15] + bytes(4) + full[19:]))
        self.assertEqual((summary["cpu_records"], summary["dimm_records"], summary["pci_records"]), (2, 12, 24))
        self.assertEqual(summary["record_count"], 38)
        self.assertEqual(summary["sata_messages"], 2)

        self.assertEqual(self.stored_files(), ["inventory.bin", "sata-00.bin", "sata-01.bin"])
        self.assertEqual(self.read_stored("inventory.bin"), full)
        self.assertEqual(self.read_stored("sata-00.bin"), drive)
        decoded = self.decode("inventory.bin", "sata-00.bin", "sata-01.bin")
        self.assertEqual(decoded.returncode, 0, decoded.stderr)
        self.assertIn("S45NNA0M123456", decoded.stdout)
        self.assertIn("R01.02.0003", decoded.stdout)

        # Half of a second image, then the BMC dies.
        code, old_session = self.bmc.open(len(second))
        self.assertEqual(code, 0)
        self.assertEqual(self.bmc.write_all(old_session, second, 0, len(second) // 2 // CHUNK * CHUNK), [])
        self.bmc.kill()
        self.bmc.start()

        self.assertEqual(self.read_stored("inventory.bin"), full)
        self.assertEqual(self.stored_files(), ["inventory.bin", "sata-00.bin", "sata-01.bin"])
        summary = self.bmc.summary()
        self.assertEqual((summary["flags"], summary["total_size"], summary["sata_messages"]), (0x1F, 23063, 2))
        # The session the dead BMC handed out is not this one's.
        self.assertEqual(self.bmc.write(old_session, len(second) // 2 // CHUNK * CHUNK, second[-10:]), 0xCC)

        self.assertEqual(self.bmc.transfer(second), 0)
        self.assertEqual(self.read_stored("inventory.bin"), second)
        self.assertEqual(self.stored_files(), ["inventory.bin"])  # a new boot's SATA set starts empty
        summary = self.bmc.summary()
        self.assertEqual((summary["total_size"], summary["cpu_records"], summary["dimm_records"],
                          summary["pci_records"], summary["sata_messages"]), (len(second), 1, 4, 6, 0))
        decoded = self.decode("inventory.bin")
        self.assertEqual(decoded.returncode, 0, decoded.stderr)
        self.assertIn("R01.02.0004", decoded.stdout)

    def test_refusals_reach_the_client_as_completion_codes(self):
        image = self.images["second.bin"]
        self.assertEqual(self.bmc.open(23064)[0], 0xC8)
        code, session = self.bmc.open(len(image))
        self.assertEqual(code, 0)
        self.assertEqual(self.bmc.write(session, 0, image[:CHUNK], crc=crc16_ccitt_false(image[:CHUNK]) ^ 1), 0xCC)
        self.assertEqual(self.bmc.write(session, CHUNK, image[CHUNK:2 * CHUNK]), 0xCC)  # out of order
        self.assertEqual(self.bmc.write(session ^ 0x8000, 0, image[:CHUNK]), 0xCC)  # foreign session
        self.assertEqual(self.bmc.raw(0x32, 0x5A, bytes([STEP_WRITE, 0]))[0], 0xCC)  # truncated
        self.assertEqual(self.bmc.write_all(session, image), [])
        self.assertEqual(self.bmc.raw(0x32, 0x5A, struct.pack("<BBHI", STEP_COMMIT, 0, session, 0))[0], 0xCC)
        self.assertEqual(self.bmc.raw(0x32, 0x5B, b"\x00")[0], 0xC7)
        self.assertEqual(self.bmc.summary()["flags"], 0)
        self.assertEqual(self.stored_files(), [])


if __name__ == "__main__":
    unittest.main()
