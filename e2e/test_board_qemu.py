"""Unit tests of the board's QEMU command line, its files, the QMP client and the
remaining judges (variables, Tesk, transcripts, measurements)."""

import json
import os
import socket
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import board_checks  # noqa: E402
import board_model  # noqa: E402
import board_qemu  # noqa: E402
import board_report  # noqa: E402
from test_board_checks import debug_record  # noqa: E402


def option_value(command, flag, prefix):
    return [command[i + 1] for i, arg in enumerate(command[:-1]) if arg == flag and command[i + 1].startswith(prefix)]


class CommandLine(unittest.TestCase):
    def setUp(self):
        self.board = board_model.load_board()
        self.root = tempfile.mkdtemp(prefix="board-test-")
        images = {}
        for name in board_qemu.ESP_FILES:
            images[name] = os.path.join(self.root, name)
            with open(images[name], "wb") as handle:
                handle.write(name.encode())
        vars_file = os.path.join(self.root, "vars.fd")
        with open(vars_file, "wb") as handle:
            handle.write(b"\0" * 16)
        self.board["firmware"]["vars"] = vars_file
        self.command, self.serial, self.qmp = board_qemu.qemu_command(self.board, "qemu", os.path.join(self.root, "run"), images)

    def tearDown(self):
        import shutil
        shutil.rmtree(self.root, ignore_errors=True)

    def test_machine_and_firmware(self):
        self.assertIn("q35,accel=tcg", self.command)
        self.assertIn("2,sockets=2,cores=1,threads=1", self.command)
        pflash = option_value(self.command, "-drive", "if=pflash")
        self.assertTrue(pflash[0].endswith(f"readonly=on,file={self.board['firmware']['code']}"))
        # The vars file is a fresh copy, never the original.
        self.assertNotIn(self.board["firmware"]["vars"], pflash[1])
        self.assertIn(f"file:{self.serial}", self.command)

    def test_esp_on_virtio_with_the_harness_and_config(self):
        devices = option_value(self.command, "-device", "virtio-blk-pci")
        self.assertEqual(devices, ["virtio-blk-pci,drive=esp,addr=05.0,bootindex=0"])
        esp = os.path.join(self.root, "run", "esp")
        with open(os.path.join(esp, "EFI", "BOOT", "BOOTX64.EFI"), "rb") as handle:
            self.assertEqual(handle.read(), b"BoardHarness.efi")
        with open(os.path.join(esp, "BOARD.CFG"), "rb") as handle:
            self.assertEqual(handle.read(), board_model.harness_config(self.board))

    def test_pci_topology(self):
        ports = option_value(self.command, "-device", "pcie-root-port")
        self.assertEqual(len(ports), 5)
        self.assertEqual(ports[4], "pcie-root-port,id=rpx1,bus=pxb1,addr=00.0,chassis=5,port=5,x-speed=5,x-width=2")
        self.assertIn("addr=1c.0", ports[0])
        self.assertIn("multifunction=on", ports[0])
        self.assertTrue(all("multifunction" not in port for port in ports[1:]))
        self.assertIn("x-speed=8,x-width=16", ports[0])
        e1000e = option_value(self.command, "-device", "e1000e")[0]
        self.assertEqual(e1000e, "e1000e,bus=rp3,addr=00.0,romfile=,multifunction=on")
        self.assertIn("virtio-rng-pci,bus=rp3,addr=00.1,romfile=", self.command)
        self.assertIn("nvme,bus=rp2,addr=00.0,romfile=,serial=NVME0001", self.command)
        self.assertIn("virtio-rng-pci,addr=11.0,multifunction=on", self.command)
        # A device without a bus goes to QEMU's newest bus: the expander comes after them all.
        expander = self.command.index("pxb-pcie,id=pxb1,bus_nr=128,bus=pcie.0,addr=0a.0")
        self.assertGreater(expander, max(self.command.index(arg) for arg in option_value(self.command, "-device", "ich9-ahci")))
        self.assertEqual(self.command[expander + 2:expander + 6:2],
                         ["pcie-root-port,id=rpx1,bus=pxb1,addr=00.0,chassis=5,port=5,x-speed=5,x-width=2",
                          "e1000,bus=rpx1,addr=00.0,romfile="])

    def test_sata_controllers_and_sparse_drives(self):
        self.assertEqual(option_value(self.command, "-device", "ich9-ahci"),
                         ["ich9-ahci,id=ssata115,addr=11.5", "ich9-ahci,id=sata17,addr=17.0"])
        drives = option_value(self.command, "-device", "ide-hd")
        self.assertIn("ide-hd,bus=sata17.3,drive=sata17-p3,serial=ZC10ABCD,model=Board Archive HDD 2TB", drives)
        image = os.path.join(self.root, "run", "disks", "sata17-p3.img")
        self.assertEqual(os.path.getsize(image), 2 << 40)
        self.assertLess(os.stat(image).st_blocks, 1024)

    def test_smbios_files_in_order(self):
        files = option_value(self.command, "-smbios", "file=")
        kinds = []
        for spec in files:
            with open(spec[len("file="):], "rb") as handle:
                kinds.append(handle.read()[0])
        self.assertEqual(kinds, [0, 4, 4, 17, 17, 17, 17, 17, 17])


class QmpClient(unittest.TestCase):
    def test_capabilities_then_send_key(self):
        path = os.path.join(tempfile.mkdtemp(prefix="qmp-"), "qmp.sock")
        server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        server.bind(path)
        server.listen(1)
        received = []

        def serve():
            connection, _ = server.accept()
            connection.sendall(b'{"QMP": {"version": {}}}\n')
            reader = connection.makefile("rb")
            for line in reader:
                message = json.loads(line)
                received.append(message)
                connection.sendall(b'{"event": "SOMETHING"}\n{"return": {}}\n')
                if message["execute"] == "send-key":
                    break
            connection.close()

        thread = threading.Thread(target=serve)
        thread.start()
        client = board_qemu.Qmp(path, timeout=5)
        client.send_keys(("ctrl", "alt", "d"))
        client.close()
        thread.join(5)
        server.close()
        self.assertEqual(received[0], {"execute": "qmp_capabilities"})
        self.assertEqual(received[1]["arguments"]["keys"], [{"type": "qcode", "data": k} for k in ("ctrl", "alt", "d")])
        self.assertEqual(received[1]["arguments"]["hold-time"], 200)


class Recorder(board_qemu.Service):
    """A service that notes when it starts and stops and whether QEMU still ran then."""

    def __init__(self, name, events, session_of):
        self.name, self.events, self.session_of = name, events, session_of

    def start(self, root):
        self.events.append(("start", self.name))
        return ["--from-" + self.name]

    def stop(self):
        session = self.session_of()
        running = session.process is not None and session.process.poll() is None
        self.events.append(("stop", self.name, running))


class SessionRuns(unittest.TestCase):
    """The session against a stand-in for QEMU: a Python process that writes its arguments
    and a script of lines to the serial file."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="session-test-")
        self.serial = os.path.join(self.root, "serial.log")
        self.events = []
        self.addCleanup(__import__("shutil").rmtree, self.root, True)

    def session(self, script, services=()):
        program = ("import sys, time\n"
                   f"with open({self.serial!r}, 'w') as out:\n"
                   "    out.write(' '.join(sys.argv[1:]) + '\\n'); out.flush()\n"
                   f"    {script}\n")
        holder = []
        services = [Recorder(name, self.events, lambda: holder[0]) for name in services]
        session = board_qemu.Session([sys.executable, "-c", program], self.root, self.serial, services=services)
        holder.append(session)
        return session

    def test_exit_by_itself_is_no_problem(self):
        with self.session("out.write('DONE\\n')") as session:
            self.assertIsNone(session.wait(20, completion="DONE", interval=0.02))
        self.assertEqual(session.returncode(), 0)
        self.assertIn("DONE", session.serial().decode())

    def test_hang_is_bounded_and_stopped_by_pid(self):
        with self.session("time.sleep(60)") as session:
            problem = session.wait(0.3, interval=0.05)
            pid = session.process.pid
        self.assertEqual(problem, "timed out after 0.3 s")
        self.assertEqual(session.returncode(), -9)
        with self.assertRaises(ProcessLookupError):
            os.kill(pid, 0)

    def test_no_power_off_after_the_completion_line(self):
        saved = board_qemu.POWER_OFF_SECONDS
        board_qemu.POWER_OFF_SECONDS = 0.2
        self.addCleanup(setattr, board_qemu, "POWER_OFF_SECONDS", saved)
        with self.session("out.write('DONE\\n'); out.flush(); time.sleep(60)") as session:
            problem = session.wait(30, completion="DONE", interval=0.02)
        self.assertEqual(problem, 'still running 0.2 s after "DONE"')
        self.assertEqual(session.returncode(), -9)

    def test_services_start_first_add_their_arguments_and_stop_after_qemu(self):
        with self.session("pass", services=("bmc", "other")) as session:
            session.wait(20, interval=0.02)
        self.assertEqual(session.serial().decode().splitlines()[0], "--from-bmc --from-other")
        self.assertEqual(self.events, [("start", "bmc"), ("start", "other"), ("stop", "other", False),
                                       ("stop", "bmc", False)])

    def test_services_stop_when_qemu_cannot_start(self):
        session = board_qemu.Session([os.path.join(self.root, "no-qemu")], self.root, self.serial,
                                     services=[Recorder("bmc", self.events, lambda: session)])
        with self.assertRaises(OSError):
            with session:
                self.fail("a session whose QEMU did not start must not run")
        self.assertEqual(self.events, [("start", "bmc"), ("stop", "bmc", False)])

    def test_missing_inputs_are_named(self):
        present = os.path.join(self.root, "present")
        open(present, "wb").close()
        missing = board_qemu.missing_inputs({"harness": present, "OVMF code": os.path.join(self.root, "code.fd"),
                                             "x.efi": "x.efi"}, os.path.join(self.root, "no-qemu"))
        self.assertEqual(missing, [f"OVMF code ({self.root}/code.fd; Debian package ovmf)", "x.efi",
                                   f"QEMU ({self.root}/no-qemu; Debian package qemu-system-x86)"])


class OtherJudges(unittest.TestCase):
    def setUp(self):
        self.board = board_model.load_board()
        stages, digests, sizes = board_model.expected_variables(self.board)
        self.report = board_report.Report()
        for stage, values in stages.items():
            fields = {key: hex(value) for key, value in values.items()}
            for name, digest in digests.items():
                fields.update({f"{name}-status": "0x0", f"{name}-rest": hex(digest), f"{name}-size": str(sizes[name])})
            self.report.variables[stage] = fields
        self.report.keys = {"1": {"seen": "0x1"}, "2": {"seen": "0x1"}}

    def failures(self, check, *args):
        results = []
        check(*args, results)
        return [text for ok, text in results if not ok]

    def test_variables(self):
        self.assertEqual(self.failures(board_checks.check_variables, self.board, self.report), [])
        self.report.variables["disarm"]["setup888"] = "0x1"
        self.report.variables["start"]["pch-rest"] = "0x1"
        del self.report.keys["2"]
        self.assertEqual(len(self.failures(board_checks.check_variables, self.board, self.report)), 3)

    def test_tesk_and_console(self):
        self.report.steps = {"RUNTIME": {"table": "0x5000"}, "PEERS": {"tesk": "0x6000"}}
        self.report.loaded = [{"ours": "Hotlatch.efi", "base": "0x1000", "size": "0x1000"}]
        self.report.tesk = [{"op": "register", "address": "0x1800", "pointer": "0x6000"},
                            {"op": "register", "address": "0x1808", "pointer": "0x5000"}]
        raw = b"\x1b[33;6HReady to debug mode ...\n"
        self.assertEqual(self.failures(board_checks.check_console_and_tesk, self.report, raw), [])
        self.report.tesk[1]["address"] = "0x2000"  # outside Hotlatch's image
        self.assertEqual(len(self.failures(board_checks.check_console_and_tesk, self.report, raw + raw)), 2)

    def test_transcripts_need_every_key_line(self):
        roster, hotlatch = board_checks.key_lines(self.board)
        self.assertIn("Inventory data TotalSize = %d" % len(board_model.expected_inventory(self.board)), roster)
        records = [board_report.StatusRecord(i, "Roster", 3, 0, 0, debug_record(line.replace("%", "%%") + "\n"))
                   for i, line in enumerate(roster)]
        self.report.status = records
        self.report.steps = {"STATUS-SUMMARY": {"dropped": "0x0"}}
        failures = self.failures(board_checks.check_transcripts, self.board, self.report)
        self.assertFalse(any(text.startswith("Roster transcript has \"") for text in failures), failures)
        self.assertTrue(any("Hotlatch transcript" in text for text in failures))

    def test_root_bridge_ranges(self):
        self.report.root_bridges = [{"buses": "0x1", "first": "0x0", "last": "0x4"},
                                    {"buses": "0x1", "first": "0x80", "last": "0x81"}]
        self.assertEqual(self.failures(board_checks.check_root_bridges, self.board, self.report), [])
        for wrong in ([self.report.root_bridges[0]],
                      [self.report.root_bridges[0], {"buses": "0x0", "first": "0x80", "last": "0x81"}],
                      [self.report.root_bridges[1], self.report.root_bridges[0]]):
            self.report.root_bridges = wrong
            self.assertEqual(len(self.failures(board_checks.check_root_bridges, self.board, self.report)), 1)

    def test_measurements(self):
        self.report.steps = {"TSC": {"per100ms": "0x100"}, "SCAN": {"ticks": "0x80"}}
        self.report.triggers = [{"ticks": "0x100"}]
        self.report.loaded = [{"size": "0x3000", "ours": "-"}, {"size": "0x2000", "ours": "Roster.efi"},
                              {"size": "0x9000", "ours": "BoardHarness.efi"}, {"size": "0x1000", "ours": "Hotlatch.efi"}]
        lines = board_checks.measurements(self.report)
        self.assertIn("ratio 2.00", lines[0])
        self.assertIn("rank 2 of 3", lines[1])
        self.assertIn("rank 3 of 3", lines[2])


if __name__ == "__main__":
    unittest.main()
