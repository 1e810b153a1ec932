"""The OS-boot run's judges and its initramfs, on kernel log lines captured from a boot of
Debian's 6.1 kernel with efi=debug on OVMF (trimmed), and on initramfs images unpacked by
busybox's cpio."""

import os
import shutil
import struct
import subprocess
import tempfile
import unittest

import board_model
import board_report
import os_checks
import os_initramfs

CAPTURED = """\
[    0.000000] efi: EFI v2.70 by EDK II
[    0.000000] efi: mem00: [Conventional|   |  |  |  |  |  |  |  |  |  |   |WB|WT|WC|UC] range=[0x0000000000000000-0x0000000000086fff] (0MB)
[    0.000000] efi: mem109: [Runtime Code|RUN|  |  |  |  |  |  |  |  |  |   |WB|WT|WC|UC] range=[0x000000003f5ed000-0x000000003f6ecfff] (1MB)
[    0.000000] efi: mem110: [Reserved    |   |  |  |  |  |  |  |  |  |  |   |WB|WT|WC|UC] range=[0x000000003f6ed000-0x000000003f76cfff] (0MB)
[    0.000000] calibrate_delay_direct() failed to get a good estimate for loops_per_jiffy.
[    0.357963] efi: EFI runtime memory map:
[    0.359705] efi: mem07: [Boot Code   |RUN|  |  |  |  |  |  |  |  |  |   |WB|WT|WC|UC] range=[0x000000003f5ed000-0x000000003f6ecfff] (1MB)
[    0.393506] efi: memattr: Processing EFI Memory Attributes table:
[    0.393907] efi: memattr:  0x00003f4ed000-0x00003f5ecfff [Runtime Data|RUN|  |  |  |  |  |XP|  |  |  |   |  |  |  |  ]
[    0.397294] efi: memattr:  0x00003f5ed000-0x00003f6befff [Runtime Code|RUN|  |  |  |  |  |XP|  |  |  |   |  |  |  |  ]
[    0.397574] efi: memattr:  0x00003f6bf000-0x00003f6c1fff [Runtime Code|RUN|  |  |  |  |  |  |  |  |RO|   |  |  |  |  ]
[    0.397754] efi: memattr:  0x00003f6c2000-0x00003f6c5fff [Runtime Code|RUN|  |  |  |  |  |XP|  |  |  |   |  |  |  |  ]
[    0.397921] efi: memattr:  0x00003f6c6000-0x00003f6c6fff [Runtime Code|RUN|  |  |  |  |  |  |  |  |RO|   |  |  |  |  ]
[    3.100463] AMD-Vi: AMD IOMMUv2 functionality not available on this system - This is not a bug.
"""
# Hotlatch as the board driver found it in that run, with its real section layout.
BASE, SIZE = 0x3F6BE000, 0x7000
SECTIONS = [(0x1000, 0x22FA, 0x60000020), (0x4000, 0xBA1, 0xC0000040), (0x5000, 0x108, 0xC0000040),
            (0x6000, 0xC, 0x40000040)]


def pe_image(sections):
    """A minimal PE32+ file: DOS stub pointer, signature, file header, an empty optional
    header, and the section table."""
    header = 0x40
    data = bytearray(0x200)
    data[:2] = b"MZ"
    struct.pack_into("<I", data, 0x3C, header)
    data[header:header + 4] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", data, header + 4, 0x8664, len(sections), 0, 0, 0, 0, 0)
    for index, (address, size, flags) in enumerate(sections):
        struct.pack_into("<8sIIIIIIHHI", data, header + 24 + 40 * index, b".s", size, address, 0, 0, 0, 0, 0, 0, flags)
    return bytes(data)


class KernelLogTest(unittest.TestCase):
    def setUp(self):
        self.lines = os_checks.kernel_lines(CAPTURED.encode())
        self.sections = os_checks.pe_sections(pe_image(SECTIONS))

    def failures(self, lines, base=BASE, size=SIZE, sections=None):
        results = []
        os_checks.check_image_memory(lines, base, size, sections or self.sections, results)
        return [text for ok, text in results if not ok]

    def test_reads_both_tables_and_the_image_passes(self):
        regions = os_checks.memory_map(self.lines)
        # The runtime map the kernel repeats later is not a second boot map.
        self.assertEqual([r["type"] for r in regions], ["Conventional", "Runtime Code", "Reserved"])
        self.assertEqual((regions[1]["start"], regions[1]["end"]), (0x3F5ED000, 0x3F6ED000))
        table = os_checks.memory_attributes(self.lines)
        self.assertEqual(len(table), 5)
        self.assertEqual(table[2]["attrs"], {"RUN", "RO"})
        self.assertEqual(self.sections[:2], [(0x1000, 0x22FA, True), (0x4000, 0xBA1, False)])
        self.assertEqual(self.failures(self.lines), [])

    def test_wrong_protection_or_placement_fails(self):
        # Code in an executable, writable page.
        writable = [line.replace("|RO|", "|  |") for line in self.lines]
        self.assertEqual(len(self.failures(writable)), 1)
        # An image that reaches past the last table entry, and one in boot-services code.
        self.assertTrue(any("covers" in f for f in self.failures(self.lines, base=0x3F6C2000)))
        boot = [line.replace("mem109: [Runtime Code", "mem109: [Boot Code   ") for line in self.lines]
        self.assertTrue(any("memory map" in f for f in self.failures(boot)))
        # A kernel that printed no table at all.
        self.assertTrue(len(self.failures([l for l in self.lines if "memattr" not in l])) >= 3)

    def test_trouble_lines(self):
        self.assertEqual(os_checks.trouble(self.lines), [])
        bad = self.lines + ["efi: memattr: [Firmware Bug]: Entry attributes invalid: RO and XP bits both cleared",
                            "efi: EFI Runtime Services are disabled!", "Kernel panic - not syncing: Attempted to kill init!"]
        self.assertEqual(len(os_checks.trouble(bad)), 3)

    def test_pe_sections_rejects_other_files(self):
        truncated = pe_image([(0x1000, 0x1000, 0x60000020)] * 9)[:0x100]
        for data in (b"", b"MZ" + b"\0" * 100, b"\x7fELF" + b"\0" * 100, truncated):
            with self.assertRaises(ValueError):
                os_checks.pe_sections(data)


class InitLinesTest(unittest.TestCase):
    def setUp(self):
        self.board = board_model.load_board()
        lines = ["OSBOOT INIT kernel=6.1.0-57-amd64",
                 "OSBOOT EFIVARFS builtin=0 insmod=0 mount=0 runtime=0x3f5ebb98"]
        names = list(os_checks.SETUP_RECORDS) + ["Boot0000-8be4df61-93ca-11d2-aa0d-00e098032b8c"]
        lines += [f"OSBOOT VAR name={name} size=8" for name in names]
        lines.append(f"OSBOOT LIST count={len(names)}")
        for name, record in os_checks.expected_records(self.board).items():
            lines.append(f"OSBOOT READ name={name} status=0 size={len(record)}")
            for offset in range(0, len(record), 64):
                lines.append(f"OSBOOT HEX name={name} off={offset} data={record[offset:offset + 64].hex()}")
        wanted = (b"\x07\0\0\0" + os_checks.TEST_DATA).hex()
        lines += [f"OSBOOT WRITE name=T status=0 data={wanted}", "OSBOOT DELETE name=T chattr=0 rm=0 gone=1",
                  "OSBOOT DONE"]
        self.lines = lines

    def failures(self, lines):
        results = []
        os_checks.check_init(self.board, lines, results)
        return [text for ok, text in results if not ok]

    def test_expected_setup_record(self):
        record = os_checks.expected_records(self.board)["Setup-a04a27f4-df00-4d42-b552-39511302113d"]
        # Attributes, then seed 0x11 + 37 * index with both debug options cleared.
        self.assertEqual(record[:6], b"\x07\0\0\0\x11\x36")
        self.assertEqual((record[4 + 888], record[4 + 891], record[4 + 889]), (0, 0, (0x11 + 37 * 889) & 0xFF))

    def test_clean_run_passes_and_each_fault_is_named(self):
        self.assertEqual(self.failures(self.lines), [])
        cases = {
            # A debug option the OS finds set: a write after boot services went through.
            "byte 892": lambda ls: [l.replace("data=" + l.split("data=")[1], "data=" + bytes.fromhex(
                l.split("data=")[1])[:60].hex() + "01" + bytes.fromhex(l.split("data=")[1])[61:].hex())
                if "HEX name=Setup" in l and "off=832" in l else l for l in ls],
            # A console line lost to an interleaved kernel message.
            "bytes, expected": lambda ls: [l for l in ls if not ("HEX name=Pch" in l and "off=64 " in l)],
            "wrote a variable": lambda ls: [l.replace("status=0 data=", "status=1 data=") for l in ls],
            "deleted": lambda ls: [l.replace("gone=1", "gone=0") for l in ls],
            "listed": lambda ls: [l for l in ls if "VAR name=Setup" not in l],
            "powered off": lambda ls: ls[:-1],
        }
        for word, change in cases.items():
            with self.subTest(word):
                failures = self.failures(change(self.lines))
                self.assertEqual(len(failures), 1, failures)
                self.assertIn(word, failures[0])

    def test_garbled_hex_is_a_hole_not_a_crash(self):
        lines = self.lines + ["OSBOOT HEX name=Setup-a04a27f4-df00-4d42-b552-39511302113d off=x data=zz",
                              "OSBOOT", "OSBOOT HEX"]
        self.assertEqual(self.failures(lines), [])


# The board driver's runtime lines as its debug console carries them, with the OS's runtime
# map of a run: Hotlatch at 0x3F6BE000, the runtime table in runtime data.
BOARD_LINES = """\
BOARD START
BOARD IMAGE name=Hotlatch.efi count=0x1 fv=0x1 sameparent=0x1 imagesize=0x7000 codetype=0x5 base=0x3F6BE000
BOARD READYTOBOOT
BOARD TESK op=register address=0x3F6C3078 pointer=0x3F540E18
BOARD TESK op=register address=0x3F6C3058 pointer=0x3F5ECB98
BOARD TESK-SUMMARY calls=0x2 dropped=0x0
BOARD KEYBOARD status=0x0 notifies=0x2 function=0x3F6BF1B6
BOARD PROBE when=boot called=0x1 status=0x0 read=0x1 setup888=0x1
BOARD RESETOPTIONS status=0x0
BOARD OSBOOT READY
BOARD EXITBOOTSERVICES
BOARD PROBE when=exitbootservices called=0x1 status=0x0 read=0x1 setup888=0x0
BOARD VIRTUAL
BOARD RUNTIME-TABLE before=0x3F5ECB98 after=0xFFFFFFFEFF1ECB98 status=0x0
BOARD CONVERT address=0x3F6C3078 before=0x3F540E18 after=0xFFFFFFFEFF140E18 status=0x0
BOARD CONVERT address=0x3F6C3058 before=0x3F5ECB98 after=0xFFFFFFFEFF1ECB98 status=0x0
BOARD VIRTUAL DONE
"""
# The same run's serial port: the OS's view of where it mapped each region (a boot-services
# region among them), and Hotlatch's console notice from both calls.
RUNTIME_MAP = ["OSBOOT RTMAP phys=0x3feec000 virt=0xfffffffeffaec000 pages=0x84 type=0x6",
               "OSBOOT RTMAP phys=0x3f2ae000 virt=0xfffffffefeeae000 pages=0xe type=0x3",
               "OSBOOT RTMAP phys=0x3f5ed000 virt=0xfffffffeff1ed000 pages=0x100 type=0x5",
               "OSBOOT RTMAP phys=0x3f4ed000 virt=0xfffffffeff0ed000 pages=0x100 type=0x6",
               "\x1b[33;06HReady to debug mode ...", "\x1b[33;06HReady to debug mode ..."]


class RuntimeTest(unittest.TestCase):
    def failures(self, board_text, lines=RUNTIME_MAP):
        results = []
        os_checks.check_runtime(board_report.parse_report(board_text.encode()), lines, results)
        return [text for ok, text in results if not ok]

    def test_clean_run_passes(self):
        self.assertEqual(self.failures(BOARD_LINES), [])
        # The runtime-table pointer's value lands where the OS mapped runtime data.
        regions = os_checks.runtime_map(os_checks.osboot_lines(RUNTIME_MAP))
        self.assertEqual(os_checks.virtual_address(regions, 0x3F5ECB98), 0xFFFFFFFEFF1ECB98)
        # Boot-services memory is gone once the OS runs: no virtual address for it.
        self.assertIsNone(os_checks.virtual_address(regions, 0x3F2AE010))

    def test_each_fault_is_named(self):
        cases = {
            # The service left Hotlatch's runtime-services pointer physical.
            "runtime-services pointer": BOARD_LINES.replace(
                "before=0x3F5ECB98 after=0xFFFFFFFEFF1ECB98 status=0x0\nBOARD VIRTUAL DONE",
                "before=0x3F5ECB98 after=0x3F5ECB98 status=0x0\nBOARD VIRTUAL DONE"),
            # A conversion to somewhere the OS did not map that region.
            "runtime-services pointer ": BOARD_LINES.replace(
                "address=0x3F6C3058 before=0x3F5ECB98 after=0xFFFFFFFEFF1ECB98",
                "address=0x3F6C3058 before=0x3F5ECB98 after=0xFFFFFFFEFF1ECB90"),
            # Converted twice: the pointer would be wrong the second time.
            "2 conversions": BOARD_LINES.replace("BOARD VIRTUAL DONE", "BOARD CONVERT address=0x3F6C3078 "
                                                 "before=0x3F540E18 after=0xFFFFFFFEFF140E18 status=0x0\n"
                                                 "BOARD VIRTUAL DONE"),
            "variable library refused": BOARD_LINES.replace("read=0x1 setup888=0x0", "read=0x1 setup888=0x1"),
            # A registered pointer into memory the OS does not map for runtime: never valid.
            "not in memory the OS keeps": BOARD_LINES.replace(
                "pointer=0x3F5ECB98", "pointer=0x3F2AE010").replace(
                "before=0x3F5ECB98 after=0xFFFFFFFEFF1ECB98 status=0x0\nBOARD VIRTUAL DONE",
                "before=0x3F2AE010 after=0x3F2AE010 status=0x800000000000000E\nBOARD VIRTUAL DONE"),
            "wrote its option": BOARD_LINES.replace("when=boot called=0x1", "when=boot called=0x0"),
            "Ctrl+Alt+d": BOARD_LINES.replace("function=0x3F6BF1B6", "function=0x0"),
            # The second call never reached the write: its "refusal" proves nothing.
            "console notice 1 times": (BOARD_LINES, RUNTIME_MAP[:-1]),
            "to the end": BOARD_LINES.replace("BOARD VIRTUAL DONE\n", ""),
            "inside its image": BOARD_LINES.replace("address=0x3F6C3078 pointer", "address=0x3F6C5078 pointer"),
        }
        for word, case in cases.items():
            with self.subTest(word):
                failures = self.failures(*case) if isinstance(case, tuple) else self.failures(case)
                self.assertTrue(any(word.strip() in f for f in failures), failures)

    def test_withdrawn_pointer_is_not_converted(self):
        text = BOARD_LINES.replace("BOARD TESK-SUMMARY",
                                   "BOARD TESK op=register address=0x3F6C3080 pointer=0x1000\n"
                                   "BOARD TESK op=unregister address=0x3F6C3080 pointer=0x1000\nBOARD TESK-SUMMARY")
        self.assertEqual(self.failures(text), [])
        converted = text.replace("BOARD VIRTUAL DONE", "BOARD CONVERT address=0x3F6C3080 before=0x1000 "
                                 "after=0x2000 status=0x0\nBOARD VIRTUAL DONE")
        self.assertEqual(len(self.failures(converted)), 1)

    def test_no_runtime_map_or_no_lines(self):
        self.assertTrue(any("runtime regions" in f for f in self.failures(BOARD_LINES, lines=[])))
        self.assertGreaterEqual(len(self.failures("BOARD START\n")), 6)


class InitramfsTest(unittest.TestCase):
    def test_parsers(self):
        self.assertEqual(os_initramfs.kernel_release("linux-image-6.1.0-57-amd64 (= 6.1.192-3)"), "6.1.0-57-amd64")
        with self.assertRaises(os_initramfs.InitramfsError):
            os_initramfs.kernel_release("")
        config = "CONFIG_EFI=y\n# CONFIG_EFIVAR_FS is not set\nCONFIG_EFIVAR_FS_X=y\n"
        self.assertIsNone(os_initramfs.config_option(config, "CONFIG_EFIVAR_FS"))
        self.assertEqual(os_initramfs.config_option("CONFIG_EFIVAR_FS=m\n", "CONFIG_EFIVAR_FS"), "m")
        dep = "kernel/fs/a.ko: kernel/lib/b.ko kernel/lib/c.ko\nkernel/lib/b.ko: kernel/lib/c.ko\nkernel/lib/c.ko:\n"
        self.assertEqual(os_initramfs.module_chain(dep, "kernel/fs/a.ko"),
                         ["kernel/lib/c.ko", "kernel/lib/b.ko", "kernel/fs/a.ko"])
        with self.assertRaises(os_initramfs.InitramfsError):
            os_initramfs.module_chain(dep, "kernel/fs/efivarfs/efivarfs.ko")
        ldd = ("\tlinux-vdso.so.1 (0x00007f)\n\tlibe2p.so.2 => /lib/x86_64-linux-gnu/libe2p.so.2 (0x00007f)\n"
               "\t/lib64/ld-linux-x86-64.so.2 (0x00007f)\n")
        self.assertEqual(os_initramfs.shared_libraries(ldd),
                         ["/lib/x86_64-linux-gnu/libe2p.so.2", "/lib64/ld-linux-x86-64.so.2"])

    @unittest.skipUnless(os.path.exists("/bin/busybox"), "busybox-static is not installed")
    def test_busybox_unpacks_what_we_write(self):
        cpio = os_initramfs.Cpio()
        cpio.parents("usr/lib/deep/file")
        cpio.file("usr/lib/deep/file", b"abc", executable=True)
        cpio.file("odd", b"12345")  # data that needs padding
        cpio.symlink("link", "odd")
        with self.assertRaises(os_initramfs.InitramfsError):
            cpio.file("odd", b"again")
        out = tempfile.mkdtemp()
        try:
            unpack = subprocess.run(["/bin/busybox", "cpio", "-i", "-d"], input=cpio.data(), cwd=out,
                                    capture_output=True)
            self.assertEqual(unpack.returncode, 0, unpack.stderr)
            with open(os.path.join(out, "usr/lib/deep/file"), "rb") as handle:
                self.assertEqual(handle.read(), b"abc")
            self.assertTrue(os.access(os.path.join(out, "usr/lib/deep/file"), os.X_OK))
            with open(os.path.join(out, "odd"), "rb") as handle:
                self.assertEqual(handle.read(), b"12345")
            self.assertEqual(os.readlink(os.path.join(out, "link")), "odd")
        finally:
            shutil.rmtree(out)


if __name__ == "__main__":
    unittest.main()
