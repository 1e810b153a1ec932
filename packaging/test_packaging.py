"""What an integrator relies on in dist/: the INFs, the DEC, the FDF lines and rules and
the C headers agree with the drivers' own definitions and images, and the dependency
expressions are the bytes PI defines."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.environ.get("PROJECT_SOURCE_DIR", os.path.dirname(HERE))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, "cmake"))

import autogen  # noqa: E402
import depex  # noqa: E402
import image_budget  # noqa: E402

CPP_GUID = re.compile(r"(g\w+Guid)\s*=\s*\{\s*(0x[0-9A-Fa-f]+),\s*(0x[0-9A-Fa-f]+),\s*(0x[0-9A-Fa-f]+),\s*\{([^}]*)\}\s*\}")
DEC_GUID = re.compile(r"^\s*(g\w+Guid)\s*=\s*\{\s*(0x[0-9A-Fa-f]+),\s*(0x[0-9A-Fa-f]+),\s*(0x[0-9A-Fa-f]+),\s*\{([^}]*)\}\s*\}", re.MULTILINE)
C_MACRO = re.compile(r"#define\s+(\w+_GUID)\s*\\?\s*\{\s*(0x[0-9A-Fa-f]+),\s*(0x[0-9A-Fa-f]+),\s*(0x[0-9A-Fa-f]+),\s*\{([^}]*)\}\s*\}")
DRIVERS = {"Roster": ("DXE_DRIVER", 11, "ROSTER_EFI"), "Hotlatch": ("DXE_RUNTIME_DRIVER", 12, "HOTLATCH_EFI"),
           "KcsTransport": ("DXE_DRIVER", 11, "KCS_TRANSPORT_EFI")}
# The FV lines each FDF include brings: the two drivers, and the optional transport apart.
FDF_INCLUDES = {"RosterHotlatch.fdf.inc": ["Roster", "Hotlatch"], "KcsTransport.fdf.inc": ["KcsTransport"]}
# The optional SSVS handler: a Traditional MM driver, PE32+ subsystem 11 as EDK II links one.
SMM_DRIVERS = {"SsvsHandler": ("DXE_SMM_DRIVER", 11, "SSVS_HANDLER_EFI")}


def text(*parts):
    with open(os.path.join(*parts), encoding="utf-8") as handle:
        return handle.read()


def guid_bytes(match):
    data4 = bytes(int(x, 16) for x in match[5].split(","))
    return int(match[2], 16).to_bytes(4, "little") + int(match[3], 16).to_bytes(2, "little") \
        + int(match[4], 16).to_bytes(2, "little") + data4


def defined_guids(home):
    """The GUIDs the C++ headers under ROOT/home/{Protocol,Guid} define, by name."""
    found = {}
    for folder in ("Protocol", "Guid"):
        if not os.path.isdir(os.path.join(ROOT, home, folder)):
            continue
        for entry in os.listdir(os.path.join(ROOT, home, folder)):
            for match in CPP_GUID.finditer(text(ROOT, home, folder, entry)):
                found[match[1]] = guid_bytes(match)
    return found


def driver_inf(name):
    """The INF dist/ ships: the template with the [Defines] of the driver's module description."""
    module = autogen.read_module(os.path.join(ROOT, name.lower(), f"{name}.module"))
    return module, autogen.render_inf(text(HERE, f"{name}.inf.in"), module)


def inf_section(inf, name):
    match = re.search(r"^\[" + re.escape(name) + r"\]\n(.*?)(?=^\[|\Z)", inf, re.MULTILINE | re.DOTALL)
    return [line.strip() for line in (match[1] if match else "").splitlines() if line.strip() and not line.strip().startswith("#")]


def inf_define(inf, key):
    return re.search(r"^\s*" + key + r"\s*=\s*(\S+)", inf, re.MULTILINE)[1]


class DriverInfTest(unittest.TestCase):
    def test_identity_matches_the_driver_and_its_image(self):
        for name, (module_type, subsystem, env) in {**DRIVERS, **SMM_DRIVERS}.items():
            with self.subTest(name):
                module, inf = driver_inf(name)
                built = os.path.join(os.environ.get("PACKAGING_BINARY_DIR", ""), f"{name}.inf")
                if os.environ.get("PACKAGING_BINARY_DIR"):
                    self.assertEqual(text(built), inf, "the build's INF is the rendered template")
                file_guid = uuid.UUID(inf_define(inf, "FILE_GUID")).bytes_le
                self.assertEqual(file_guid, module["FILE_GUID"].bytes_le, "FILE_GUID is the driver's caller ID")
                self.assertEqual(inf_define(inf, "BASE_NAME"), name)
                self.assertEqual(inf_define(inf, "MODULE_TYPE"), module_type)
                path = os.environ.get(env)
                if path:
                    with open(path, "rb") as handle:
                        image = handle.read()
                    self.assertIn(file_guid, image, "the image reports under another caller ID")
                    pe = int.from_bytes(image[0x3C:0x40], "little")
                    self.assertEqual(int.from_bytes(image[pe + 24 + 68:pe + 24 + 70], "little"), subsystem)

    def test_binary_module_shape(self):
        for name in DRIVERS:
            with self.subTest(name):
                inf = driver_inf(name)[1]
                self.assertEqual(inf_section(inf, "Binaries.X64"), [f"PE32|{name}.efi|*", f"DXE_DEPEX|{name}.depex|*"])
                self.assertNotIn("[Depex]", inf, "a binary module builds no [Depex] section")
                for line in inf_section(inf, "Protocols") + inf_section(inf, "Guids"):
                    self.assertRegex(line, r"^g\w+Guid\s+## (CONSUMES|SOMETIMES_CONSUMES|PRODUCES|SOMETIMES_PRODUCES|NOTIFY)\b")
                depex_names = depex.inf_expression(inf)
                protocols = [line.split()[0] for line in inf_section(inf, "Protocols")]
                self.assertTrue(set(depex_names) <= set(protocols), "every depex protocol is listed in [Protocols]")

    def test_smm_driver_is_a_binary_module_with_an_smm_depex(self):
        for name in SMM_DRIVERS:
            with self.subTest(name):
                inf = driver_inf(name)[1]
                self.assertEqual(inf_section(inf, "Binaries.X64"), [f"PE32|{name}.efi|*", f"SMM_DEPEX|{name}.depex|*"])
                # EDK II's build refuses a DXE_SMM_DRIVER that claims an older PI revision.
                self.assertGreaterEqual(int(inf_define(inf, "PI_SPECIFICATION_VERSION"), 16), 0x0001000A)
                protocols = [line.split()[0] for line in inf_section(inf, "Protocols")]
                self.assertTrue(set(depex.inf_expression(inf)) <= set(protocols))

    def test_board_private_names_are_declared_in_the_dec(self):
        dec = text(HERE, "RosterHotlatchPkg.dec")
        declared = {m[1] for m in DEC_GUID.finditer(dec)}
        ours = set(defined_guids("interfaces"))
        self.assertTrue(ours, "interfaces/ defines the board-private names")
        infs = [driver_inf(name)[1] for name in DRIVERS] + [driver_inf(name)[1] for name in SMM_DRIVERS]
        for inf in infs:
            self.assertIn("RosterHotlatchPkg/RosterHotlatchPkg.dec", inf_section(inf, "Packages"))
            for line in inf_section(inf, "Protocols") + inf_section(inf, "Guids"):
                guid = line.split()[0]
                if guid in ours:
                    self.assertIn(guid, declared)


class DecAndHeadersTest(unittest.TestCase):
    def test_dec_guids_are_the_drivers_own(self):
        # The DEC declares exactly the board-private names, with the bytes interfaces/ gives them.
        own = defined_guids("interfaces")
        dec = {m[1]: guid_bytes(m) for m in DEC_GUID.finditer(text(HERE, "RosterHotlatchPkg.dec"))}
        self.assertEqual(len(dec), 10)
        self.assertEqual(dec, own)
        self.assertFalse(set(dec) & set(defined_guids("uefi")), "uefi/ holds no board-private name")

    def test_c_header_guids_match_the_dec(self):
        dec = {m[1]: guid_bytes(m) for m in DEC_GUID.finditer(text(HERE, "RosterHotlatchPkg.dec"))}
        macros = {}
        for folder in ("Protocol", "Guid"):
            for entry in os.listdir(os.path.join(HERE, "Include", folder)):
                header = text(HERE, "Include", folder, entry)
                for match in C_MACRO.finditer(header):
                    macros[match[1]] = guid_bytes(match)
                for name in re.findall(r"extern EFI_GUID\s+(g\w+);", header):
                    self.assertIn(name, dec, f"{entry} names {name}, which the DEC does not declare")
        pairs = {"INVENTORY_TRIGGER_PROTOCOL_GUID": "gInventoryTriggerProtocolGuid",
                 "PLATFORM_IDENTITY_PROTOCOL_GUID": "gPlatformIdentityProtocolGuid",
                 "MANAGEMENT_TRANSPORT_PROTOCOL_GUID": "gManagementTransportProtocolGuid",
                 "DEBUG_KEY_DISARM_PROTOCOL_GUID": "gDebugKeyDisarmProtocolGuid",
                 "TESK_REGISTRATION_PROTOCOL_GUID": "gTeskRegistrationProtocolGuid",
                 "DEBUG_MESSAGE_CONFIG_GUID": "gDebugMessageConfigGuid",
                 "SETUP_VARIABLE_GUID": "gSetupVariableGuid",
                 "PCH_RC_CONFIGURATION_VARIABLE_GUID": "gPchRcConfigurationVariableGuid",
                 "SOCKET_PROCESSOR_CORE_CONFIG_VARIABLE_GUID": "gSocketProcessorCoreConfigVariableGuid",
                 "SSVS_HANDLER_STATISTICS_GUID": "gSsvsHandlerStatisticsGuid"}
        self.assertEqual(set(macros), set(pairs))
        for macro, name in pairs.items():
            self.assertEqual(macros[macro], dec[name], macro)

    @unittest.skipUnless(shutil.which("cc"), "no C compiler")
    def test_c_headers_compile_as_c_with_the_drivers_layouts(self):
        # The offsets the drivers' own headers lock, checked on the C headers.
        prelude = """
typedef unsigned char UINT8; typedef unsigned short UINT16; typedef unsigned int UINT32;
typedef unsigned long long UINT64; typedef UINT64 UINTN; typedef UINTN EFI_STATUS; typedef unsigned short CHAR16;
typedef struct { UINT32 Data1; UINT16 Data2; UINT16 Data3; UINT8 Data4[8]; } EFI_GUID;
#define EFIAPI __attribute__((ms_abi))
#define IN
#define OUT
#define VOID void
#include <stddef.h>
#include <Protocol/InventoryTrigger.h>
#include <Protocol/PlatformIdentity.h>
#include <Protocol/ManagementTransport.h>
#include <Protocol/DebugKeyDisarm.h>
#include <Protocol/TeskRegistration.h>
#include <Guid/RosterHotlatchVariables.h>
#include <Guid/SsvsHandlerStatistics.h>
_Static_assert(sizeof(SSVS_HANDLER_STATISTICS) == 16 && offsetof(SSVS_HANDLER_STATISTICS, Refused) == 8, "statistics");
_Static_assert(offsetof(PLATFORM_IDENTITY_PROTOCOL, Word4) == 4, "identity");
_Static_assert(offsetof(PLATFORM_IDENTITY_PROTOCOL, Word10) == 10, "identity");
_Static_assert(offsetof(MANAGEMENT_TRANSPORT_PROTOCOL, SendLargeCommand) == 8, "transport");
_Static_assert(offsetof(TESK_REGISTRATION_PROTOCOL, RegisterPointer) == 16, "tesk");
_Static_assert(offsetof(TESK_REGISTRATION_PROTOCOL, UnregisterPointer) == 24, "tesk");
EFI_GUID Guids[] = {INVENTORY_TRIGGER_PROTOCOL_GUID, PLATFORM_IDENTITY_PROTOCOL_GUID, MANAGEMENT_TRANSPORT_PROTOCOL_GUID,
                    DEBUG_KEY_DISARM_PROTOCOL_GUID, TESK_REGISTRATION_PROTOCOL_GUID, SETUP_VARIABLE_GUID};
"""
        with tempfile.TemporaryDirectory() as scratch:
            source = os.path.join(scratch, "headers.c")
            with open(source, "w", encoding="ascii") as handle:
                handle.write(prelude)
            done = subprocess.run(["cc", "-std=c11", "-Wall", "-Werror", "-fsyntax-only", "-I", os.path.join(HERE, "Include"), source],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False)
            self.assertEqual(done.returncode, 0, done.stdout.decode())
        for folder in ("Protocol", "Guid"):
            for entry in os.listdir(os.path.join(HERE, "Include", folder)):
                self.assertIn(f"<{folder}/{entry}>", prelude, "every shipped header is compiled here")


class FdfTest(unittest.TestCase):
    def test_fv_lines_use_the_shipped_rules(self):
        rules = text(HERE, "RosterHotlatchRules.fdf.inc")
        self.assertEqual(sorted(sum(FDF_INCLUDES.values(), [])), sorted(DRIVERS), "every module has its FV line once")
        for include, names in FDF_INCLUDES.items():
            lines = [line.split() for line in text(HERE, include).splitlines()
                     if line.strip() and not line.lstrip().startswith("#")]
            self.assertEqual(len(lines), len(names), include)
            for words, name in zip(lines, names):
                self._check_fv_line(words, name, rules)

    def _check_fv_line(self, words, name, rules):
        module_type = DRIVERS[name][0]
        with self.subTest(name):
            self.assertEqual(words, ["INF", "RuleOverride", "=", "ROSTER_HOTLATCH_BINARY", f"RosterHotlatchPkg/{name}/{name}.inf"])
            rule = re.search(r"^\[Rule\.Common\." + module_type + r"\.ROSTER_HOTLATCH_BINARY\]\n(.*?)(?=^\[|\Z)", rules,
                             re.MULTILINE | re.DOTALL)
            self.assertIsNotNone(rule, module_type)
            body = rule[1]
            self.assertRegex(body, r"DXE_DEPEX\s+DXE_DEPEX\s+\|\.depex")
            self.assertRegex(body, r"PE32\s+PE32\s+\|\.efi")
            self.assertIn('STRING="$(MODULE_NAME)"', body)
            self.assertNotRegex(body.split("|.depex")[0], r"Optional", "a missing depex must fail the build")

    def test_smm_fv_line_uses_the_smm_rule(self):
        lines = [line.split() for line in text(HERE, "SsvsHandler.fdf.inc").splitlines()
                 if line.strip() and not line.lstrip().startswith("#")]
        self.assertEqual(lines, [["INF", "RuleOverride", "=", "ROSTER_HOTLATCH_BINARY",
                                  "RosterHotlatchPkg/SsvsHandler/SsvsHandler.inf"]])
        rule = re.search(r"^\[Rule\.Common\.DXE_SMM_DRIVER\.ROSTER_HOTLATCH_BINARY\]\n(.*?)(?=^\[|\Z)",
                         text(HERE, "RosterHotlatchRules.fdf.inc"), re.MULTILINE | re.DOTALL)
        self.assertIsNotNone(rule)
        # PI: a Traditional MM driver is an EFI_FV_FILETYPE_SMM file whose expression is an SMM_DEPEX section.
        self.assertRegex(rule[1], r"FILE SMM = \$\(NAMED_GUID\)")
        self.assertRegex(rule[1], r"SMM_DEPEX\s+SMM_DEPEX\s+\|\.depex")
        self.assertNotRegex(rule[1], r"DXE_DEPEX")
        self.assertNotRegex(rule[1].split("|.depex")[0], r"Optional")
        self.assertRegex(rule[1], r"PE32\s+PE32\s+\|\.efi")

    def test_no_include_directive_hides_in_a_comment(self):
        # The FDF preprocessor acts on the directive wherever it appears.
        for name in ("RosterHotlatch.fdf.inc", "RosterHotlatchRules.fdf.inc", "KcsTransport.fdf.inc", "SsvsHandler.fdf.inc"):
            self.assertNotIn("!include", text(HERE, name))


class DepexTest(unittest.TestCase):
    def test_bytes_follow_the_pi_encoding(self):
        data = depex.encode(["gEfiVariableArchProtocolGuid", "gEfiStatusCodeRuntimeProtocolGuid"])
        self.assertEqual(data.hex(), "02" + "e268561e8184d411bcf10080c73c8881" + "02" + "28b8b2d22608a748b3df983c006024f0" + "0308")
        three = depex.encode(["gEfiVariableArchProtocolGuid", "gEfiVariableWriteArchProtocolGuid", "gEfiStatusCodeRuntimeProtocolGuid"])
        self.assertEqual(len(three), 3 * 17 + 3)
        self.assertEqual([three[0], three[17], three[34], three[35], three[52], three[53]], [0x02, 0x02, 0x03, 0x02, 0x03, 0x08])

    def test_decode_reads_back_and_refuses_damage(self):
        data = depex.encode(["gEfiVariableArchProtocolGuid", "gEfiRscHandlerProtocolGuid"])
        self.assertEqual(depex.decode(data), ["PUSH 1E5668E2-8481-11D4-BCF1-0080C73C8881",
                                              "PUSH 86212936-0E76-41C8-A03A-2AF2FC1C39E2", "AND", "END"])
        for damaged in (data[:-1], data[:10], data + b"\x08", b"\x0a" + data, b""):
            with self.assertRaises(depex.DepexError):
                depex.decode(damaged)

    def test_inf_expression_is_strict(self):
        good = "#  DEPEX gEfiVariableArchProtocolGuid AND gEfiCpuIo2ProtocolGuid\n"
        self.assertEqual(depex.inf_expression(good), ["gEfiVariableArchProtocolGuid", "gEfiCpuIo2ProtocolGuid"])
        for bad in ("", good + good, "# DEPEX gEfiVariableArchProtocolGuid OR gEfiCpuIo2ProtocolGuid\n",
                    "# DEPEX gEfiVariableArchProtocolGuid AND\n", "# DEPEX gSomethingElseGuid\n"):
            with self.assertRaises(depex.DepexError, msg=bad):
                depex.inf_expression(bad)

    def test_generated_files_match_the_infs(self):
        for path in (os.path.join(HERE, "Roster.inf.in"), os.path.join(HERE, "Hotlatch.inf.in"),
                     os.path.join(HERE, "KcsTransport.inf.in"),
                     os.path.join(HERE, "SsvsHandler.inf.in"),
                     os.path.join(ROOT, "e2e", "board_dxe", "BoardDxe.inf")):
            with self.subTest(path):
                names = depex.inf_expression(text(path))
                self.assertEqual([t.split()[1] for t in depex.decode(depex.encode(names)) if t.startswith("PUSH")],
                                 [depex.PROTOCOLS[n] for n in names])


class ImageBudgetTest(unittest.TestCase):
    def test_size_of_image_and_lzma_container(self):
        header = bytearray(0x200)
        header[:2] = b"MZ"
        header[0x3C:0x40] = (0x80).to_bytes(4, "little")
        header[0x80:0x84] = b"PE\0\0"
        header[0x80 + 24 + 56:0x80 + 24 + 60] = (0x5000).to_bytes(4, "little")
        self.assertEqual(image_budget.size_of_image(bytes(header)), 0x5000)
        with self.assertRaises(ValueError):
            image_budget.size_of_image(b"ZM" + bytes(0x100))
        # The .lzma container LzmaCompress writes: 13 header bytes, then the stream.
        packed = image_budget.lzma.compress(bytes(1000), format=image_budget.lzma.FORMAT_ALONE)
        self.assertEqual(image_budget.lzma.decompress(packed), bytes(1000))
        self.assertEqual(packed[0], 0x5D)


if __name__ == "__main__":
    unittest.main()
