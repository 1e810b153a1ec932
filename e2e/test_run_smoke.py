"""The smoke runner's verdict: a report passes only when it is complete and clean."""

import unittest

import run_smoke

GOOD = [
    "BdsDxe: starting Boot0001",
    "\x1b[0m\x1b[=3hHARNESS START firmware=EDK II revision=0x10000",
    "HARNESS CHECK memory-routines=pass",
    "HARNESS IMAGE Roster.efi Read=0x0 FileSize=0x3A00 LoadImage=0x0 StartImage=0x0 ImageSize=0x6000 CodeType=0x3",
    "HARNESS IMAGE Hotlatch.efi Read=0x0 FileSize=0x4200 LoadImage=0x0 StartImage=0x0 ImageSize=0x7000 CodeType=0x5",
    "HARNESS COMPLETE",
]


def verdict_of(lines):
    return run_smoke.judge(run_smoke.clean_serial_text("\r\n".join(lines).encode("latin-1")))


def replaced(old, new):
    return [line.replace(old, new) for line in GOOD]


class VerdictTest(unittest.TestCase):
    def test_complete_clean_report_passes(self):
        verdict = verdict_of(GOOD)
        self.assertEqual(verdict.problems, [])
        self.assertTrue(verdict.complete)
        self.assertEqual([image.name for image in verdict.images], ["Roster.efi", "Hotlatch.efi"])

    def test_missing_completion_line_fails_even_with_clean_images(self):
        verdict = verdict_of(GOOD[:-1])
        self.assertFalse(verdict.complete)
        self.assertEqual(len(verdict.problems), 1)

    def test_completion_line_inside_other_text_does_not_count(self):
        self.assertFalse(verdict_of(GOOD[:-1] + ["xHARNESS COMPLETEx"]).complete)

    def test_error_statuses_fail(self):
        for field in ("Read", "LoadImage", "StartImage"):
            lines = [line.replace(f"{field}=0x0 ", f"{field}=0x8000000000000003 ", 1)
                     if "Hotlatch" in line else line for line in GOOD]
            problems = verdict_of(lines).problems
            self.assertTrue(any(field in problem and "Hotlatch" in problem for problem in problems), field)

    def test_warning_status_is_not_success(self):
        self.assertNotEqual(verdict_of(replaced("StartImage=0x0 ", "StartImage=0x4 ")).problems, [])

    def test_steps_that_never_ran_fail(self):
        lines = [line.replace("LoadImage=0x0 StartImage=0x0 ImageSize=0x6000 CodeType=0x3",
                              "LoadImage=0x0 StartImage=NotRun ImageSize=NotRun CodeType=NotRun")
                 for line in GOOD]
        problems = verdict_of(lines).problems
        self.assertTrue(any("Roster.efi: StartImage NotRun" == problem for problem in problems), problems)

    def test_wrong_memory_type_for_the_subsystem_fails(self):
        problems = verdict_of(replaced("CodeType=0x5", "CodeType=0x3")).problems
        self.assertEqual(problems, ["Hotlatch.efi: code type 0x3 (want 5)"])

    def test_missing_or_repeated_image_lines_fail(self):
        self.assertIn("Roster.efi: no report line", verdict_of([line for line in GOOD if "Roster" not in line]).problems)
        self.assertIn("Roster.efi: reported more than once", verdict_of(GOOD[:4] + GOOD[3:]).problems)

    def test_failed_or_missing_self_checks_fail(self):
        self.assertEqual(verdict_of(replaced("memory-routines=pass", "memory-routines=fail")).problems,
                         ["check memory-routines: fail"])
        self.assertEqual(verdict_of([line for line in GOOD if "CHECK" not in line]).problems,
                         ["check memory-routines: not reported"])

    def test_garbled_numbers_fail(self):
        self.assertNotEqual(verdict_of(replaced("Read=0x0 FileSize=0x3A00", "Read=0xZZ FileSize=0x3A00")).problems, [])


if __name__ == "__main__":
    unittest.main()
