"""autogen.py: the order of the generated lists, and the descriptions it refuses."""

import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)

import autogen  # noqa: E402

CATALOGUE = """
[A]
  CONSTRUCTOR = AConstructor
  DESTRUCTOR  = ADestructor
[B]
  CONSTRUCTOR = BConstructor
  DEPENDS     = C
[C]
  CONSTRUCTOR = CConstructor
  DESTRUCTOR  = CDestructor
[D]
  DEPENDS     = A
"""


class AutoGenTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.addCleanup(self.scratch.cleanup)

    def write(self, name, text):
        path = os.path.join(self.scratch.name, name)
        with open(path, "w", encoding="utf-8") as handle:
            handle.write(text)
        return path

    def module(self, libraries, extra=""):
        return self.write("M.module", "[Defines]\n  BASE_NAME = M\n  FILE_GUID = 01234567-89AB-CDEF-0123-456789ABCDEF\n"
                          "  MODULE_TYPE = DXE_DRIVER\n  ENTRY_POINT = Start\n" + extra +
                          "[LibraryClasses]\n" + "".join(f"  {name}\n" for name in libraries))

    def generate(self, libraries, catalogue=CATALOGUE):
        module = autogen.read_module(self.module(libraries))
        return autogen.autogen_source(module, autogen.read_catalogues([self.write("L.list", catalogue)]), "M.module")

    def test_dependencies_first_else_listed_order_and_destructors_reversed(self):
        text = self.generate(["B", "A", "C", "D"])
        constructors = text[text.index("ProcessLibraryConstructorList("):text.index("ProcessLibraryDestructorList(")]
        destructors = text[text.index("ProcessLibraryDestructorList("):text.index("ProcessModuleEntryPointList(")]
        order = [name for name in ("CConstructor", "BConstructor", "AConstructor")]
        self.assertEqual(sorted(order, key=constructors.index), order, "C before B (B depends on it), then A")
        self.assertLess(destructors.index("ADestructor"), destructors.index("CDestructor"))
        self.assertIn("{0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}}", text)
        self.assertIn("return Start(ImageHandle, SystemTable);", text)

    def test_refused_descriptions(self):
        cases = {
            "a library no catalogue describes": (["A", "E"], CATALOGUE),
            "a dependency the module does not link": (["B"], CATALOGUE),
            "a cycle": (["X", "Y"], "[X]\n  DEPENDS = Y\n[Y]\n  DEPENDS = X\n"),
        }
        for name, (libraries, catalogue) in cases.items():
            with self.subTest(name), self.assertRaises(autogen.DescriptionError):
                self.generate(libraries, catalogue)
        for broken in ("  FILE_GUID = not-a-guid\n", "  ENTRY_POINT = Start\n", "  SOMETHING = 1\n"):
            with self.subTest(broken), self.assertRaises(autogen.DescriptionError):
                autogen.read_module(self.module(["A"], broken))

    def test_linked_sources_must_match_the_list(self):
        module = autogen.read_module(self.module(["A", "C"]))
        catalogue = autogen.read_catalogues([self.write("L.list", CATALOGUE)])
        signature = "(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {\n}\n"
        linked = [self.write("a.cpp", f"EFI_STATUS AConstructor{signature}EFI_STATUS ADestructor{signature}"),
                  self.write("c.cpp", f"EFI_STATUS CConstructor{signature}EFI_STATUS CDestructor{signature}")]
        autogen.check_sources(module, catalogue, linked)
        with self.assertRaises(autogen.DescriptionError, msg="B's constructor linked, B not listed"):
            autogen.check_sources(module, catalogue, linked + [self.write("b.cpp", f"EFI_STATUS BConstructor{signature}")])
        with self.assertRaises(autogen.DescriptionError, msg="C listed, its destructor not linked"):
            autogen.check_sources(module, catalogue, linked[:1] + [self.write("c2.cpp", f"EFI_STATUS CConstructor{signature}")])

    def test_the_drivers_lists_are_the_ones_they_always_ran(self):
        catalogues = [os.path.join(ROOT, "support", "Libraries.list"), os.path.join(ROOT, "hotlatch", "Libraries.list")]
        for name, constructors in {
            "roster/Roster.module": ["UefiRuntimeServicesTableLib", "UefiBootServicesTableLib", "PcdLib", "HobLib",
                                     "DebugPrintErrorLevelLib", "DxeTscTimerLib", "S3BootScriptLibInitialize"],
            "hotlatch/Hotlatch.module": ["UefiRuntimeServicesTableLib", "UefiBootServicesTableLib", "PcdLib", "HobLib",
                                         "DebugPrintErrorLevelLib", "UefiRuntimeLib", "RuntimeReportStatusCodeLib",
                                         "DxeTscTimerLib", "S3BootScriptLibInitialize", "TeskRegistrationLib",
                                         "DxeVariableLib"]}.items():
            with self.subTest(name):
                module = autogen.read_module(os.path.join(ROOT, name))
                catalogue = autogen.read_catalogues(catalogues)
                order = autogen.constructor_order(module, catalogue)
                called = [catalogue[lib]["CONSTRUCTOR"] for lib in order if catalogue[lib].get("CONSTRUCTOR")]
                self.assertEqual([function.replace("Constructor", "") for function in called], constructors)


if __name__ == "__main__":
    unittest.main()
