"""The firmware run's own logic: reading VolInfo's listing and judging how the drivers
were started."""

import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "cmake"))

import autogen  # noqa: E402
import board_report  # noqa: E402
import firmware_checks  # noqa: E402
import firmware_volume  # noqa: E402

# Roster's file GUID, as its module description gives it.
ROSTER = str(autogen.read_module(os.path.join(HERE, "..", "roster", "Roster.module"))["FILE_GUID"]).upper()
OTHER = "CBD2E4D5-7068-4FF5-B462-9822B4AD8D60"
# As BaseTools' VolInfo prints a prebuilt driver's file.
ROSTER_FILE = f"""File Name:        {ROSTER}  Roster
File Offset:      0x002098D0
File Type:        0x07  EFI_FV_FILETYPE_DRIVER
------------------------------------------------------------
  Type:  EFI_SECTION_DXE_DEPEX
  Size:  0x00000028
        PUSH
        1E5668E2-8481-11D4-BCF1-0080C73C8881  gEfiVariableArchProtocolGuid
        PUSH
        D2B2B828-0826-48A7-B3DF-983C006024F0  gEfiStatusCodeRuntimeProtocolGuid
        AND
        END DEPEX
------------------------------------------------------------
  Type:  EFI_SECTION_PE32
  Size:  0x00004C44
------------------------------------------------------------
  Type:  EFI_SECTION_USER_INTERFACE
  Size:  0x00000012
  String: Roster
============================================================
"""
OTHER_FILE = """File Name:        CBD2E4D5-7068-4FF5-B462-9822B4AD8D60  VariableRuntimeDxe
File Type:        0x07  EFI_FV_FILETYPE_DRIVER
------------------------------------------------------------
  Type:  EFI_SECTION_PE32
  Size:  0x00010004
============================================================
"""
TOKENS = ["PUSH 1E5668E2-8481-11D4-BCF1-0080C73C8881", "PUSH D2B2B828-0826-48A7-B3DF-983C006024F0", "AND", "END"]
MODULE = ("Roster", ROSTER, TOKENS, 0x4C40)


def failures(results):
    return [text for ok, text in results if not ok]


class VolumeListingTest(unittest.TestCase):
    def test_the_real_shape_passes(self):
        self.assertEqual(failures(firmware_volume.check_listing(OTHER_FILE + ROSTER_FILE, [MODULE])), [])

    def test_each_fault_is_named(self):
        cases = [
            ("one file", OTHER_FILE),
            ("one file", ROSTER_FILE + ROSTER_FILE),
            ("EFI_SECTION_DXE_DEPEX", ROSTER_FILE.replace("EFI_SECTION_DXE_DEPEX", "EFI_SECTION_RAW")),
            ("UI section", ROSTER_FILE.replace("String: Roster", "String: Rooster")),
            ("DXE_DEPEX decodes", ROSTER_FILE.replace("        AND\n", "        OR\n")),
            ("PE32 section holds", ROSTER_FILE.replace("0x00004C44", "0x00004C48")),
            ("file type", ROSTER_FILE.replace("EFI_FV_FILETYPE_DRIVER", "EFI_FV_FILETYPE_APPLICATION")),
        ]
        for needle, listing in cases:
            with self.subTest(needle):
                got = failures(firmware_volume.check_listing(listing, [MODULE]))
                self.assertTrue(any(needle in text for text in got), got)

    def test_fdf_order(self):
        other = ("VariableRuntimeDxe", OTHER, [], None)
        self.assertNotIn("the files keep their FDF order in the volume",
                         failures(firmware_volume.check_listing(OTHER_FILE + ROSTER_FILE, [other, MODULE])))
        self.assertIn("the files keep their FDF order in the volume",
                      failures(firmware_volume.check_listing(ROSTER_FILE + OTHER_FILE, [other, MODULE])))

    def test_depex_tokens_read_every_opcode_line(self):
        self.assertEqual(firmware_volume.depex_tokens(ROSTER_FILE), TOKENS)


GOOD_REPORT = """BOARD START
BOARD ORDER roster=0x0 hotlatch=0x0
BOARD CONFIG status=0x0
BOARD DEBUGCONFIG status=0x0 present=0x0
BOARD FIRSTBOOT status=0x0
BOARD START
BOARD ORDER roster=0x0 hotlatch=0x0
BOARD CONFIG status=0x0
BOARD CAPTURE status=0x0
BOARD PEERS status=0x0 tesk=0x1000
BOARD EVENTS status=0x0
BOARD DEBUGCONFIG status=0x0 present=0x1
BOARD SETUPVARS status=0x0
BOARD IMAGE name=Roster.efi count=0x1 fv=0x1 sameparent=0x1 imagesize=0x4D20 codetype=0x3 base=0x3EE03000
BOARD IMAGE name=Hotlatch.efi count=0x1 fv=0x1 sameparent=0x1 imagesize=0x7000 codetype=0x5 base=0x3F6BE000
BOARD KEYWATCH status=0x0
BOARD TRIGGER n=0x1 status=0x0 records=0x10
BOARD TIMER status=0x0
BOARD TRIGGER n=0x2 status=0x0 records=0x20
BOARD RESETOPTIONS status=0x0
BOARD DISARM status=0x0
BOARD COMPLETE
"""


class DispatchTest(unittest.TestCase):
    def judge(self, text):
        results = []
        firmware_checks.check_dispatch(board_report.parse_report(text.encode()), results)
        return failures(results)

    def test_a_good_report_passes(self):
        self.assertEqual(self.judge(GOOD_REPORT), [])

    def test_what_the_dispatcher_must_show(self):
        cases = {
            "before both drivers": GOOD_REPORT.replace("BOARD ORDER roster=0x0 hotlatch=0x0\nBOARD CONFIG status=0x0\nBOARD CAPTURE",
                                                       "BOARD ORDER roster=0x1 hotlatch=0x0\nBOARD CONFIG status=0x0\nBOARD CAPTURE"),
            "Roster.efi loaded once": GOOD_REPORT.replace("Roster.efi count=0x1 fv=0x1", "Roster.efi count=0x1 fv=0x0"),
            "Hotlatch.efi loaded once": GOOD_REPORT.replace("sameparent=0x1 imagesize=0x7000", "sameparent=0x0 imagesize=0x7000"),
            "written by the one before": GOOD_REPORT.replace("present=0x1", "present=0x0"),
            "installed twice": GOOD_REPORT.replace("BOARD TRIGGER n=0x2 status=0x0 records=0x20\n", ""),
            "step DISARM": GOOD_REPORT.replace("BOARD DISARM status=0x0", "BOARD DISARM status=0x800000000000000E"),
            "BOARD COMPLETE": GOOD_REPORT.replace("BOARD COMPLETE\n", ""),
        }
        for needle, text in cases.items():
            with self.subTest(needle):
                got = self.judge(text)
                self.assertTrue(any(needle in line for line in got), got)


if __name__ == "__main__":
    unittest.main()
