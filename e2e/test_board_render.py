"""Unit tests of the debug-record renderer and the report reader and judge of the board run."""

import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import board_checks  # noqa: E402
import board_model  # noqa: E402
import board_render as render  # noqa: E402
import board_report  # noqa: E402


def debug_record(fmt, *slots, level=0x40):
    """A debug-info record as the drivers' support layer reports it."""
    payload = struct.pack("<I", level) + struct.pack("<12Q", *(list(slots) + [0] * (12 - len(slots))))
    payload += fmt.encode("latin-1") + b"\0" + bytes(4)
    return struct.pack("<HH", 20, len(payload)) + render.DEBUG_DATA_GUID + payload


class StatusNames(unittest.TestCase):
    def test_names_and_fallback(self):
        self.assertEqual(render.status_name(0), "Success")
        self.assertEqual(render.status_name(5), "Warning Stale Data")
        self.assertEqual(render.status_name((1 << 63) | 14), "Not Found")
        self.assertEqual(render.status_name((1 << 63) | 33), "Compromised Data")
        # Beyond the older table, and the not-available-yet warning, print as hex.
        self.assertEqual(render.status_name((1 << 63) | 34), "00000022")
        self.assertEqual(render.status_name(0xA000000000000002), "00000002")


class Conversions(unittest.TestCase):
    def test_numbers(self):
        cases = [("%x", [0xAB], "AB"), ("%02x ", [0xA], "0A "), ("%2x", [0xA], " A"), ("%2x", [0x123], "123"),
                 ("%d", [0xFFFFFFFF], "-1"), ("%d", [0x1_0000_0005], "5"), ("%ld", [(1 << 64) - 2], "-2"),
                 ("%lx", [0x123456789], "123456789"), ("%x", [0x123456789], "23456789"),
                 ("%u", [0xFFFFFFFF], "4294967295"), ("%-4d|", [7], "7   |"), ("%05d", [(1 << 32) - 42], "-0042"),
                 ("%,d", [1234567], "1,234,567"), ("%p", [0x1000], "1000")]
        for fmt, slots, expected in cases:
            with self.subTest(fmt=fmt, slots=slots):
                self.assertEqual(render.render_format(fmt, slots), expected)

    def test_other_conversions(self):
        self.assertEqual(render.render_format("%c%c", [0x41, 0x1_0042]), "AB")
        self.assertEqual(render.render_format("Status = %r\n", [(1 << 63) | 3]), "Status = Unsupported\n")
        self.assertEqual(render.render_format("100%%", []), "100%")
        self.assertEqual(render.render_format("%a", [0x1234]), "<a@0x1234>")
        # A width from '*' takes a slot of its own.
        self.assertEqual(render.render_format("%*d", [4, 9]), "   9")
        # Fewer slots than conversions read as zero, never raise.
        self.assertEqual(render.render_format("%x %x", [1]), "1 0")
        self.assertEqual(render.render_format("tail %", [1]), "tail ")


class Records(unittest.TestCase):
    def test_debug_record_round_trip(self):
        data = debug_record("Link_Speed = %x, Link_Width = %x\n", 3, 16)
        level, slots, fmt = render.parse_debug_record(data)
        self.assertEqual((level, slots[:2], fmt), (0x40, [3, 16], "Link_Speed = %x, Link_Width = %x\n"))
        self.assertEqual(render.render_record(3, 0x03050000, data), "Link_Speed = 3, Link_Width = 10\n")

    def test_not_a_debug_record(self):
        data = bytearray(debug_record("x"))
        data[4] ^= 0xFF
        self.assertIsNone(render.parse_debug_record(bytes(data)))
        self.assertIsNone(render.parse_debug_record(b"short"))
        self.assertTrue(render.render_record(3, 0, bytes(data)).startswith("Undefined"))

    def test_assert_record(self):
        data = bytearray(60)
        struct.pack_into("<I", data, 40, 123)
        data += b"roster/X.cpp\0!EFI_ERROR (Status)\0"
        text = render.render_record(0x90000002, 0x03050007, bytes(data))
        self.assertEqual(text, "\nDXE_ASSERT!: roster/X.cpp (123): !EFI_ERROR (Status)\n")
        self.assertIn("short", render.render_record(0x90000002, 0x03050007, bytes(10)))

    def test_transcript_keeps_callers_apart_and_joins_pieces(self):
        records = [board_report.StatusRecord(0, "Roster", 3, 0, 0, debug_record("Inventory Function Init")),
                   board_report.StatusRecord(1, "Hotlatch", 3, 0, 0, debug_record("other\n")),
                   board_report.StatusRecord(2, "Roster", 3, 0, 0, debug_record("Next %d\n", 5))]
        self.assertEqual(render.transcript(records, "Roster"), ["Inventory Function InitNext 5", ""])


class ReportReading(unittest.TestCase):
    def test_lines_are_parsed_and_escapes_dropped(self):
        raw = (b"\x1b[0m\x1b[1;1HBOARD START\r\nnoise\r\n"
               b"BMC SendCommand header=0xA7E8 length=2 data=0A0B\r\n"
               b"BOARD STATUS n=0x0 caller=Roster type=0x3 value=0x3050000 instance=0x0 data=0102\r\n"
               b"BOARD VARS stage=start setup888=0x0 setup-rest=0x12\r\n"
               b"BOARD COMPLETE\r\n")
        report = board_report.parse_report(raw)
        self.assertTrue(report.complete)
        self.assertEqual(report.bmc[0], board_report.BmcCall("SendCommand", 0xA7E8, 2, b"\x0a\x0b"))
        self.assertEqual(report.status[0].data, b"\x01\x02")
        self.assertEqual(report.variables["start"]["setup-rest"], "0x12")
        self.assertEqual(board_report.bmc_report_text(report), "BMC SendCommand header=0xA7E8 length=2 data=0A0B\n")

    def test_bad_lines_raise(self):
        with self.assertRaises(board_report.ReportError):
            board_report.parse_report(b"BMC SendCommand header=0xA7E8 length=1 data=ABC\r\n")
        with self.assertRaises(board_report.ReportError):
            board_report.parse_report(b"BOARD STATUS n=zz caller=Roster type=0x3 value=0x0 instance=0x0 data=\r\n")
        self.assertFalse(board_report.parse_report(b"BOARD COMPLETE-ish\r\n").complete)


class Judging(unittest.TestCase):
    """The judge on reports made from the board's own expectations: a faithful one passes,
    each kind of damage fails the check it belongs to."""

    def report(self, image=None, sata=None):
        board = board_model.load_board()
        report = board_report.Report()
        image = board_model.expected_inventory(board) if image is None else image
        report.bmc.append(board_report.BmcCall("SendLargeCommand", 0x5AC8, len(image), image))
        for message in board_model.expected_sata_messages(board) if sata is None else sata:
            report.bmc.append(board_report.BmcCall("SendCommand", 0xA7E8, len(message), message))
        return board, report

    def failures(self, board, report):
        results = []
        board_checks.check_inventory(board, report, results)
        board_checks.check_sata(board, report, results)
        return [text for ok, text in results if not ok]

    def test_faithful_report_passes(self):
        self.assertEqual(self.failures(*self.report()), [])

    def test_damage_is_named(self):
        board, good = self.report()
        image = bytearray(good.bmc[0].data)
        image[67 + 230 + 9] ^= 1
        failures = self.failures(*self.report(image=bytes(image)))
        self.assertTrue(any("processor record 1 byte 9" in text for text in failures), failures)
        self.assertTrue(any("CRC-32" in text for text in failures), failures)

        sata = board_model.expected_sata_messages(board)
        swapped = [sata[1], sata[0]] + sata[2:]
        self.assertEqual(len(self.failures(*self.report(sata=swapped))), 2)
        self.assertTrue(self.failures(*self.report(sata=sata[:-1])))

        board, doubled = self.report()
        doubled.bmc.insert(0, doubled.bmc[0])
        self.assertTrue(any("exactly one inventory" in text for text in self.failures(board, doubled)))


if __name__ == "__main__":
    unittest.main()
