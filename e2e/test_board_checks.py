"""Unit tests of the board run's report reader, its transcripts and its judge."""

import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import board_checks  # noqa: E402
import board_model  # noqa: E402
import board_report  # noqa: E402
import board_transcript  # noqa: E402

DEBUG_DATA_GUID = bytes.fromhex("46924E9A53D5D51187E200062945C3B9")  # 9A4E9246-D553-11D5-87E2-00062945C3B9


def debug_record(fmt, *slots, level=0x40):
    """A debug-info record as the drivers' support layer reports it."""
    payload = struct.pack("<I", level) + struct.pack("<12Q", *(list(slots) + [0] * (12 - len(slots))))
    payload += fmt.encode("latin-1") + b"\0" + bytes(4)
    return struct.pack("<HH", 20, len(payload)) + DEBUG_DATA_GUID + payload


class Transcripts(unittest.TestCase):
    """Captured records through tools/debug-render, the simulator's listener."""

    def records(self, *pieces):
        """StatusRecords from (caller, type, data) or (caller, type, data, value)."""
        return [board_report.StatusRecord(n, piece[0], piece[1], piece[3] if len(piece) > 3 else 0x03050000, 0,
                                          piece[2]) for n, piece in enumerate(pieces)]

    def test_transcript_keeps_callers_apart_and_joins_pieces(self):
        records = self.records(("Roster", 3, debug_record("Inventory Function Init")),
                               ("Hotlatch", 3, debug_record("other\n")),
                               ("Roster", 3, debug_record("Next %d, Status = %r\n", 5, (1 << 63) | 3)))
        self.assertEqual(board_transcript.transcript(records, "Roster"),
                         ["Inventory Function InitNext 5, Status = Unsupported", ""])

    def test_pointer_arguments_print_their_address(self):
        records = self.records(("Roster", 3, debug_record("%a|%g\n", 0x1234, 0xABC)))
        self.assertEqual(board_transcript.transcript(records, "Roster"), ["<a@0x1234>|<g@0xABC>", ""])

    def test_kinds(self):
        damaged = bytearray(debug_record("x"))
        damaged[4] ^= 0xFF
        assert_data = bytearray(60)
        struct.pack_into("<HH", assert_data, 0, 20, 40)
        struct.pack_into("<I", assert_data, 40, 123)
        assert_data += b"roster/X.cpp\0!EFI_ERROR (Status)\0"
        kinds = board_transcript.render(self.records(("Roster", 3, debug_record("x")), ("Roster", 3, bytes(damaged)),
                                                     ("Roster", 3, b""), ("Roster", 0x90000002, bytes(assert_data), 0x03050007)))
        self.assertEqual([kind for kind, _ in kinds], ["debug", "other", "other", "assert"])
        self.assertEqual(kinds[3][1], "\nDXE_ASSERT!: roster/X.cpp (123): !EFI_ERROR (Status)\n")


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
