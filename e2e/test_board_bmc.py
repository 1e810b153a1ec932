"""The BMC side of the board runs without QEMU or ipmi_sim: the VM framing the tap reads,
the chunk it spoils, the tap itself between a fake QEMU and a fake BMC, the stored files
as the checks read them, and the read-back's parsing and judgement."""

import os
import socket
import struct
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import board_bmc  # noqa: E402
import board_checks  # noqa: E402
import board_model  # noqa: E402
import board_report  # noqa: E402
import run_board  # noqa: E402
import run_firmware  # noqa: E402


def request(msg_id, netfn, command, data):
    return board_bmc.with_checksum(bytes([msg_id, netfn << 2, command]) + bytes(data))


def write_step(msg_id, offset, chunk):
    return request(msg_id, 0x32, 0x5A, struct.pack("<BBHIH", 2, 0, 7, offset, 0x1234) + chunk)


class Framing(unittest.TestCase):
    def test_escapes_round_trip_whatever_the_split(self):
        # Every special byte in the body, and a checksum that may be one too.
        frame = request(0xA0, 0x32, 0x5A, [0xA0, 0xA1, 0xAA, 0x00, 0xFF, 0xB0])
        wire = board_bmc.vm_encode("msg", frame) + board_bmc.vm_encode("cmd", b"\xff\x01")
        self.assertEqual(wire.count(0xA0), 1)
        for cut in range(len(wire) + 1):
            decoder = board_bmc.VmDecoder()
            frames = decoder.feed(wire[:cut]) + decoder.feed(wire[cut:])
            self.assertEqual(frames, [("msg", frame), ("cmd", b"\xff\x01")], cut)

    def test_transfer_steps_only_for_the_inventory_command_with_a_good_checksum(self):
        self.assertEqual(board_bmc.transfer_step(write_step(1, 0, b"abc")), 2)
        self.assertEqual(board_bmc.transfer_step(request(2, 0x32, 0x5A, [1, 0, 0xC8, 0x5A, 0, 1, 0, 0])), 1)
        self.assertIsNone(board_bmc.transfer_step(request(3, 0x3A, 0xA7, [2] * 65)))
        self.assertIsNone(board_bmc.transfer_step(request(4, 0x32, 0x5B, [2, 0, 0])))
        bad = bytearray(write_step(5, 0, b"abc"))
        bad[-1] ^= 1
        self.assertIsNone(board_bmc.transfer_step(bytes(bad)))
        self.assertIsNone(board_bmc.transfer_step(b"\x01\xc8"))

    def test_spoiled_chunk_differs_only_in_its_first_byte_and_checksum(self):
        frame = write_step(9, 224, b"\x10\x20\x30")
        spoiled = board_bmc.spoil_chunk(frame)
        self.assertEqual(sum(spoiled) & 0xFF, 0)
        changed = [i for i in range(len(frame)) if frame[i] != spoiled[i]]
        self.assertEqual(changed, [3 + board_bmc.WRITE_HEADER_SIZE, len(frame) - 1])
        self.assertEqual(spoiled[3 + board_bmc.WRITE_HEADER_SIZE], 0x10 ^ 0xFF)


class FakeBmc:
    """Listens like ipmi_sim's VM socket, keeps what it receives, answers nothing."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.kcs_port = self.listener.getsockname()[1]
        self.received = bytearray()
        self.connection = None
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        # One connection after the other, as a restarted BMC takes QEMU's next one.
        try:
            while True:
                self.connection, _ = self.listener.accept()
                self.connection.settimeout(5)
                while True:
                    data = self.connection.recv(4096)
                    if not data:
                        break
                    self.received += data
        except OSError:
            return

    def drop(self):
        """Closes the current connection, as a killed BMC does."""
        self.connection.shutdown(socket.SHUT_RDWR)

    def close(self):
        if self.connection is not None:
            self.connection.close()
        self.listener.close()


class Tap(unittest.TestCase):
    def run_tap(self, frames, wanted, **options):
        self.bmc = FakeBmc()
        self.addCleanup(self.bmc.close)
        held = []
        tap = board_bmc.VmTap(self.bmc, on_hold=lambda: held.append(time.monotonic()), **options)
        args = tap.start(tempfile.gettempdir())
        self.addCleanup(tap.stop)
        self.port = int(args[1].split("port=")[1].split(",")[0])
        return tap, self.send(frames, wanted), held

    def send(self, frames, wanted):
        """Sends frames as QEMU on a new connection; the frames the BMC has, once it has wanted."""
        guest = socket.create_connection(("127.0.0.1", self.port), timeout=5)
        self.addCleanup(guest.close)
        guest.sendall(b"".join(board_bmc.vm_encode("msg", frame) for frame in frames))
        self.guest = guest
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            if len(board_bmc.VmDecoder().feed(bytes(self.bmc.received))) >= wanted:
                break
            time.sleep(0.02)
        time.sleep(0.1)
        return [frame for _, frame in board_bmc.VmDecoder().feed(bytes(self.bmc.received))]

    def test_spoils_only_the_chosen_write(self):
        frames = [request(1, 0x32, 0x5A, [1, 0, 0xC8, 0x5A, 0x30, 0, 0, 0])] + \
                 [write_step(2 + n, n * 4, bytes([n, n + 1, 0xA0, 0xAA])) for n in range(3)] + \
                 [request(9, 0x3A, 0xA7, [0] * 65)]
        tap, forwarded, _ = self.run_tap(frames, len(frames), spoil_write=2)
        self.assertTrue(tap.spoiled)
        self.assertEqual(len(forwarded), len(frames))
        self.assertEqual([i for i in range(len(frames)) if forwarded[i] != frames[i]], [2])
        self.assertEqual(forwarded[2], board_bmc.spoil_chunk(frames[2]))
        self.assertIsNotNone(tap.open_seen)

    def test_holds_the_chosen_write_and_everything_after_it(self):
        frames = [write_step(1 + n, n * 4, b"abcd") for n in range(4)]
        tap, forwarded, held = self.run_tap(frames, 2, hold_write=3)
        self.assertTrue(tap.held.is_set())
        self.assertEqual(len(held), 1)
        self.assertEqual(forwarded, frames[:2])
        # The BMC goes away: QEMU's side is closed, and its next connection passes again.
        self.bmc.drop()
        self.guest.settimeout(5)
        self.assertEqual(self.guest.recv(16), b"")
        later = write_step(9, 0, b"next")
        self.assertEqual(self.send([later], 3), frames[:2] + [later])


class Store(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="bmc-store-test-")

    def tearDown(self):
        import shutil
        shutil.rmtree(self.folder, ignore_errors=True)

    def put(self, name, data):
        with open(os.path.join(self.folder, name), "wb") as handle:
            handle.write(data)

    def test_files_become_the_calls_the_checks_judge_in_arrival_order(self):
        self.put("inventory.bin", b"SHIM-image")
        for index in (1, 0, 10, 2, 3, 4, 5, 6, 7, 8, 9):
            self.put(f"sata-{index:02d}.bin", bytes([index]) * 65)
        stored = board_bmc.read_store(self.folder)
        self.assertEqual(stored.other, [])
        calls = stored.deliveries()
        self.assertEqual([(c.member, c.header, c.length) for c in calls[:2]],
                         [("SendLargeCommand", 0x5AC8, 10), ("SendCommand", 0xA7E8, 65)])
        self.assertEqual([c.data[0] for c in calls[1:]], list(range(11)))
        self.assertEqual([os.path.basename(p) for p in stored.paths(self.folder)][-1], "sata-10.bin")

    def test_leftovers_and_gaps_are_reported(self):
        self.put("inventory.bin.tmp", b"half")
        self.put("sata-00.bin", b"\0" * 65)
        self.put("sata-02.bin", b"\0" * 65)
        stored = board_bmc.read_store(self.folder)
        self.assertIsNone(stored.inventory)
        self.assertEqual(stored.other, ["inventory.bin.tmp", "(no sata-01.bin)"])
        results = []
        board_checks.check_bmc_store(stored, results)
        self.assertFalse(results[0][0])
        self.assertEqual(board_bmc.read_store(os.path.join(self.folder, "absent")).deliveries(), [])


class ReadBack(unittest.TestCase):
    def summary_words(self, **fields):
        values = dict.fromkeys(board_bmc.SUMMARY_FIELDS, 0)
        values.update(fields)
        data = board_bmc.SUMMARY.pack(*(values[name] for name in board_bmc.SUMMARY_FIELDS))
        return [f"{byte:02x}" for byte in data[1:]]

    def test_judged_against_the_board(self):
        board = board_model.load_board()
        size = len(board_model.expected_inventory(board))
        sata = len(board_model.expected_sata_messages(board))
        good = dict(flags=0x1F, total_size=size, stored_crc=0x1234, computed_crc=0x1234, sata_messages=sata)
        for change, ok in (({}, True), ({"flags": 0x17}, False), ({"total_size": size - 1}, False),
                           ({"computed_crc": 0x1235}, False), ({"sata_messages": sata + 1}, False)):
            fields = dict(good, **change)
            summary = board_bmc.parse_summary(self.summary_words(**fields))
            self.assertEqual(summary["total_size"], fields["total_size"])
            results = []
            board_checks.check_read_back(board, summary, "", results)
            self.assertEqual(results[0][0], ok, change)
        self.assertIsNone(board_bmc.parse_summary(["00"] * 30))
        results = []
        board_checks.check_read_back(board, None, "Unable to establish session", results)
        self.assertFalse(results[0][0])

    def test_refusals_from_the_module_options(self):
        self.assertEqual(run_board.sata_refusals("sata_fail=2"), (2, "Not Ready"))
        self.assertEqual(run_board.sata_refusals("statedir=x sata_fail=1:0xC4"), (1, "Out of Resources"))
        self.assertEqual(run_board.sata_refusals(""), (0, "Success"))


class PlatformTransport(unittest.TestCase):
    """On the BMC path the transport is KcsTransport's and no recorder stands in."""

    def report(self, recorder="0x0", start="0x0", calls=0, count="0x1", fv="0x1"):
        report = board_report.Report()
        report.steps["PEERS"] = {"status": "0x0", "recorder": recorder}
        report.images["KcsTransport.efi"] = {"read": "0x0", "load": "0x0", "start": start, "count": count, "fv": fv}
        report.bmc = [board_report.BmcCall("SendCommand", 0xA7E8, 1, b"\0")] * calls
        return report

    def verdicts(self, check, **fields):
        results = []
        check(self.report(**fields), results)
        return results[0][0]

    def test_harness_and_firmware_runs(self):
        for check in (board_checks.check_platform_transport, run_firmware.check_transport):
            self.assertTrue(self.verdicts(check))
            self.assertFalse(self.verdicts(check, recorder="0x1"))
            self.assertFalse(self.verdicts(check, calls=1))
        self.assertFalse(self.verdicts(board_checks.check_platform_transport, start="0x8000000000000014"))
        self.assertFalse(self.verdicts(run_firmware.check_transport, count="0x0"))
        self.assertFalse(self.verdicts(run_firmware.check_transport, fv="0x0"))


if __name__ == "__main__":
    unittest.main()
