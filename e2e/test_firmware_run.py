"""The firmware run's own logic: reading VolInfo's listing and judging how the drivers
were started."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "cmake"))

import autogen  # noqa: E402
import board_report  # noqa: E402
import firmware_checks  # noqa: E402
import firmware_volume  # noqa: E402
import run_firmware  # noqa: E402

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


class PreparedOnly(unittest.TestCase):
    """The ctest run of the platform build fetches and builds nothing: with the source or
    BaseTools missing it fails, says what prepares them, and calls neither apt nor make."""

    def setUp(self):
        if shutil.which("dpkg-query") is None or subprocess.run(["dpkg-query", "-W", "ovmf"],
                                                                capture_output=True).returncode != 0:
            self.skipTest("no installed ovmf to take the EDK II release from")
        self.root = tempfile.mkdtemp(prefix="firmware-prepared-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.build = os.path.join(self.root, "build")
        for relative in ("efi/BoardDxe.efi", "packaging/BoardDxe.depex"):
            os.makedirs(os.path.join(self.build, os.path.dirname(relative)), exist_ok=True)
            open(os.path.join(self.build, relative), "wb").close()
        self.cache = os.path.join(self.root, "cache")
        # Stand-ins that only note they were called.
        self.calls = os.path.join(self.root, "calls")
        tools = os.path.join(self.root, "bin")
        os.makedirs(tools)
        for tool in ("apt-get", "sudo", "make", "build"):
            path = os.path.join(tools, tool)
            with open(path, "w") as handle:
                handle.write(f'#!/bin/sh\necho "{tool} $*" >> "{self.calls}"\nexit 0\n')
            os.chmod(path, 0o755)
        self.env = dict(os.environ, PATH=tools + os.pathsep + os.environ["PATH"], ROSTER_FIRMWARE_CACHE=self.cache,
                        BUILD_DIR=self.build)

    def run_script(self):
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "firmware.sh")
        run = subprocess.run(["bash", script, "--no-build-images", "--no-build-firmware"], env=self.env,
                             capture_output=True, text=True, timeout=60)
        self.assertFalse(os.path.exists(self.calls), open(self.calls).read() if os.path.exists(self.calls) else "")
        return run

    def test_missing_source_names_setup(self):
        run = self.run_script()
        self.assertEqual(run.returncode, 1)
        self.assertIn("FAIL, missing: EDK II source", run.stderr)
        self.assertIn("scripts/setup.sh fetches it", run.stderr)

    def test_missing_basetools_names_the_build(self):
        version = subprocess.run(["dpkg-query", "-W", "-f=${Version}", "ovmf"], capture_output=True,
                                 text=True).stdout
        source = os.path.join(self.cache, "src", f"edk2-{version}")
        os.makedirs(source)
        open(os.path.join(source, ".roster-fetched"), "wb").close()
        run = self.run_script()
        self.assertEqual(run.returncode, 1)
        self.assertIn("FAIL, missing: BaseTools", run.stderr)
        self.assertIn("--build-only", run.stderr)



class SmmMachineTest(unittest.TestCase):
    def test_smm_build_gets_smm_and_secure_flash(self):
        plain = ["qemu", "-machine", "q35,accel=tcg", "-m", "2048",
                 "-drive", "if=pflash,format=raw,readonly=on,file=code.fd"]
        smm = run_firmware.smm_machine(plain)
        self.assertEqual(smm[smm.index("-machine") + 1], "q35,accel=tcg,smm=on")
        self.assertEqual(smm[-4:], ["-global", "driver=cfi.pflash01,property=secure,value=on",
                                    "-global", "ICH9-LPC.disable_s3=1"])
        self.assertEqual(plain[2], "q35,accel=tcg", "the caller's command is left alone")
        required = ["--code", "c", "--vars", "v", "--bmc-module", "m", "--roster-decode", "d"]
        self.assertTrue(run_firmware.parse_args(required + ["--smm"]).smm)
        self.assertFalse(run_firmware.parse_args(required).smm)
        # The OS boot takes the same machine.
        import run_os_boot
        self.assertTrue(run_os_boot.parse_args(["--code", "c", "--vars", "v", "--hotlatch", "h", "--smm"]).smm)
        self.assertFalse(run_os_boot.parse_args(["--code", "c", "--vars", "v", "--hotlatch", "h"]).smm)


# As VolInfo prints the SSVS handler's file in the SMM build's DXEFV.
SSVS = "A85FF7B5-B41D-4381-B0BE-E812122FFCEE"
SSVS_TOKENS = ["PUSH ED32D533-99E6-4209-9CC0-2D72CDD998A7", "PUSH EB346B97-975F-4A9F-8B22-F8E92BB3D569", "AND", "END"]
SSVS_FILE = f"""File Name:        {SSVS}  SsvsHandler
File Type:        0x0A  EFI_FV_FILETYPE_MM
------------------------------------------------------------
  Type:  EFI_SECTION_MM_DEPEX
  Size:  0x00000028
        PUSH
        ED32D533-99E6-4209-9CC0-2D72CDD998A7  gEfiSmmVariableProtocolGuid
        PUSH
        EB346B97-975F-4A9F-8B22-F8E92BB3D569  gEfiSmmCpuProtocolGuid
        AND
        END DEPEX
------------------------------------------------------------
  Type:  EFI_SECTION_PE32
  Size:  0x00001304
------------------------------------------------------------
  Type:  EFI_SECTION_USER_INTERFACE
  Size:  0x0000001C
  String: SsvsHandler
============================================================
"""
SSVS_MODULE = ("SsvsHandler", SSVS, SSVS_TOKENS, 0x1300, "DXE_SMM_DRIVER")


class SmmRunTest(unittest.TestCase):
    def test_mm_driver_file_carries_an_smm_depex(self):
        self.assertEqual(failures(firmware_volume.check_listing(ROSTER_FILE + SSVS_FILE, [MODULE, SSVS_MODULE])), [])
        cases = [
            # A DXE driver's file for an MM driver, and the other way round: neither may pass.
            ("file type EFI_FV_FILETYPE_MM", SSVS_FILE.replace("EFI_FV_FILETYPE_MM", "EFI_FV_FILETYPE_DRIVER")),
            ("EFI_SECTION_MM_DEPEX", SSVS_FILE.replace("EFI_SECTION_MM_DEPEX", "EFI_SECTION_DXE_DEPEX")),
            ("MM_DEPEX decodes", SSVS_FILE.replace("        AND\n", "        OR\n")),
        ]
        for needle, listing in cases:
            with self.subTest(needle):
                got = failures(firmware_volume.check_listing(listing, [SSVS_MODULE]))
                self.assertTrue(any(needle in text for text in got), got)
        as_mm = ("Roster", ROSTER, TOKENS, 0x4C40, "DXE_SMM_DRIVER")
        self.assertTrue(failures(firmware_volume.check_listing(ROSTER_FILE, [as_mm])))

    def test_shipped_inf_names_its_module_type(self):
        with tempfile.TemporaryDirectory() as scratch:
            path = os.path.join(scratch, "SsvsHandler.inf")
            with open(path, "w", encoding="utf-8") as handle:
                handle.write("#  DEPEX gEfiSmmVariableProtocolGuid AND gEfiSmmCpuProtocolGuid\n[Defines]\n"
                             f"  BASE_NAME = SsvsHandler\n  FILE_GUID = {SSVS}\n  MODULE_TYPE = DXE_SMM_DRIVER\n")
            self.assertEqual(firmware_volume.inf_module(path), ("SsvsHandler", SSVS, SSVS_TOKENS, None, "DXE_SMM_DRIVER"))

    def test_every_write_served_none_refused(self):
        probes = "".join(f"BOARD SSVSCASE_{name} hostile={hostile} beforestatus={before} before={index:#x} "
                         f"afterstatus={before} after={index:#x} honest=0x0 readstatus=0x0 read={index + 1:#x}\n"
                         for index, (name, hostile, before) in enumerate([
                             ("INMMRAM", "0xFFFFFFFFFFFFFFFF", "0x800000000000000E"), ("STRADDLE", "0xFFFFFFFFFFFFFFFF", "0x0"),
                             ("RBX", "0x8000000000000002", "0x0"), ("SIGNATURE", "0x8000000000000002", "0x0"),
                             ("AH", "0x8000000000000003", "0x0")]))
        good = ("BOARD SSVS status=0x0 size=0x10 served=0x6 refused=0x0\nBOARD SSVSPROBE found=0x0 mmram=0x7F000000\n"
                + probes + "BOARD SSVSAFTER status=0x0 size=0x10 served=0xB refused=0x5\n")

        def judge(text):
            return failures(firmware_checks.check_ssvs(board_report.parse_report((GOOD_REPORT + text).encode())))

        self.assertEqual(judge(good), [])
        cases = {
            "6 served": good.replace("served=0x6", "served=0x3"),  # the key's writes missed the handler
            "none refused": good.replace("served=0x6 refused=0x0", "served=0x6 refused=0x1"),
            "packet straddle": good.replace("STRADDLE hostile=0xFFFFFFFFFFFFFFFF", "STRADDLE hostile=0x0"),
            "packet ah": good.replace("AH hostile=0x8000000000000003", "AH hostile=0x8000000000000002"),
            "packet rbx": good.replace("after=0x2 honest", "after=0xEE honest"),  # the hostile write landed
            "packet signature": good.replace("honest=0x0 readstatus=0x0 read=0x4", "honest=0x8000000000000003 readstatus=0x0 read=0x3"),
            "after the probes": good.replace("refused=0x5", "refused=0x4"),
            "found MMRAM": good.replace("found=0x0", "found=0x800000000000000E"),
        }
        for needle, text in cases.items():
            with self.subTest(needle):
                got = judge(text)
                self.assertTrue(any(needle in line for line in got), got)
        self.assertEqual(len(judge("")), 2 + len(firmware_checks.SSVS_CASES) + 1, "no report fails every check")

    def test_read_back_wants_the_last_honest_byte(self):
        def judge(text):
            return failures(firmware_checks.check_read_back(board_report.parse_report(text.encode())))

        self.assertEqual(judge("BOARD START\nBOARD READBACK status=0x0 value=0x5\n"), [])
        for text in ("BOARD START\nBOARD READBACK status=0x0 value=0xEE\n",  # a hostile write landed
                     "BOARD START\nBOARD READBACK status=0x800000000000000E value=0x0\n", ""):
            with self.subTest(text):
                self.assertEqual(len(judge(text)), 1)

if __name__ == "__main__":
    unittest.main()
