#!/usr/bin/env python3
"""The firmware style check: what it must catch, and what it must let through."""
import contextlib
import io
import pathlib
import sys
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import firmware_style  # noqa: E402


def rules(source):
    return [problem.split(": ")[1] for problem in firmware_style.Checker("x.cpp", source).run()]


CLEAN = """
// Comments may say nullptr, new or auto; strings too.
#include <Uefi.h>
#define LIMIT 4
static constexpr UINTN kTableSize = 4;
UINT8 mTable[LIMIT] = {1, 2, 3, 4};
EFI_HANDLE gExampleHandle = NULL;
typedef struct {
  UINT8 Count;
  EFI_STATUS(EFIAPI *Notify)(VOID *Context);
} EXAMPLE_STATE;
static_assert(sizeof(EXAMPLE_STATE) > 0, "state");

EFI_STATUS ExampleEntry(EFI_HANDLE ImageHandle, CONST CHAR8 *Text) {
  EFI_STATUS Status;
  UINTN Index;
  EXAMPLE_STATE State = {0, NULL};

  Status = EFI_SUCCESS;
  DEBUG((DEBUG_INFO, "nullptr %a\\n", Text));
  for (Index = 0; Index < kTableSize; Index++) {
    UINT8 Value;

    Value = mTable[Index];
    switch (Value) {
      case 1: {
        UINTN Inner;

        Inner = Value;
        break;
      }
      default:
        break;
    }
  }
  do {
    Status = EFI_NOT_READY;
  } while (FALSE);
  static_assert(LIMIT == 4, "limit");
Done:
  return Status;
}
"""


class CatchesViolations(unittest.TestCase):
    def test_clean_firmware_code_passes(self):
        self.assertEqual(rules(CLEAN), [])

    def test_cpp_spellings_are_banned(self):
        cases = {
            "VOID F(VOID) { VOID *P; P = nullptr; }": "banned",
            "VOID F(VOID *Q) { UINT8 *P; P = reinterpret_cast<UINT8 *>(Q); }": "banned",
            "VOID F(VOID *Q) { UINT8 *P; P = static_cast<UINT8 *>(Q); }": "banned",
            "VOID F(VOID) { UINT8 *P; P = new UINT8; }": "banned",
            "VOID F(VOID) { bool Done; Done = true; }": "banned",
            "VOID F(VOID) { double Ratio; Ratio = 0; }": "banned",
            "class WIDGET { UINT8 A; };": "banned",
            "VOID F(VOID) { int Count; Count = 0; }": "banned",
            "UINTN Length(CONST VOID *P, size_t Size);": "banned",
            "#define COUNT_TYPE unsigned long\n": "banned",
        }
        for source, rule in cases.items():
            with self.subTest(source=source):
                self.assertIn(rule, rules(source))

    def test_macros_are_read_but_not_their_comments_or_texts(self):
        self.assertEqual(rules("#define NO_HANDLE nullptr\n"), ["banned"])
        self.assertEqual(rules("#define MAKE(T) \\\n  new T\n"), ["banned"])
        self.assertEqual(rules('#define TEXT "nullptr" // not new\n'), [])

    def test_lambda_and_member_function_are_banned(self):
        self.assertIn("banned", rules("VOID F(VOID) { UINTN N; N = 0; G([&](UINTN V) { N += V; }); }"))
        self.assertIn("banned", rules("VOID F(VOID) { H([](VOID) { return 1; }); }"))
        self.assertIn("banned", rules("struct OUTPUT { UINTN Count; VOID Put(CHAR8 C) { Count++; } };"))
        self.assertIn("banned", rules("struct OUTPUT { UINTN Count; VOID Put(CHAR8 C); };"))
        # An array element that is called is no lambda.
        self.assertEqual(rules("VOID F(VOID) { mHandlers[0](NULL); }"), [])

    def test_declaration_after_a_statement(self):
        late = "VOID F(VOID) {\n  UINTN A;\n\n  A = 1;\n  UINTN B = A;\n}"
        self.assertEqual(rules(late), ["declaration"])
        problems = firmware_style.Checker("x.cpp", late).run()
        self.assertTrue(problems[0].startswith("x.cpp:5:"), problems)
        pointer = "VOID F(VOID) {\n  G();\n  CONST UINT8 *P = NULL;\n}"
        self.assertEqual(rules(pointer), ["declaration"])
        after_block = "VOID F(UINTN A) {\n  if (A) {\n    G();\n  }\n  EFI_STATUS Status;\n}"
        self.assertEqual(rules(after_block), ["declaration"])
        in_case = "VOID F(UINTN A) {\n  switch (A) {\n    case 1:\n      G();\n      UINTN B = 2;\n  }\n}"
        self.assertEqual(rules(in_case), ["declaration"])

    def test_declaration_in_a_for_statement(self):
        self.assertEqual(rules("VOID F(VOID) { for (UINTN I = 0; I < 2; I++) { G(); } }"), ["declaration"])
        self.assertEqual(rules("VOID F(VOID) { UINTN I; for (I = 0; I < 2; I++) { G(); } }"), [])

    def test_names(self):
        self.assertEqual(rules("VOID F(VOID) { UINTN byte_count; byte_count = 0; }"), ["name"])
        self.assertEqual(rules("VOID read_config(VOID) { }"), ["name"])
        self.assertEqual(rules("UINTN counter = 0;"), ["name"])
        self.assertEqual(rules("CONST UINTN kLimit = 4;"), ["name"])
        self.assertEqual(rules("struct OutputBuffer { UINTN Count; };"), ["name"])
        self.assertEqual(rules("typedef UINT32 Mask_t;"), ["name"])
        # The compiler runtime's names are its own.
        self.assertEqual(rules("VOID *memset(VOID *Buffer, int Value, size_t Length) { return Buffer; }"), [])


class WholeTree(unittest.TestCase):
    def run_main(self, root):
        output = io.StringIO()
        with contextlib.redirect_stdout(output):
            code = firmware_style.main(["--root", str(root)])
        return code, output.getvalue()

    def test_every_listed_folder_is_checked_including_new_modules(self):
        for folder in ("roster", "hotlatch", "support", "kcstransport", "ssvshandler", "e2e"):
            with self.subTest(folder=folder), tempfile.TemporaryDirectory() as directory:
                module = pathlib.Path(directory, folder, "deep")
                module.mkdir(parents=True)
                (module / "Late.cpp").write_text("VOID F(VOID) { G(); VOID *P = nullptr; }\n")
                code, output = self.run_main(directory)
                self.assertEqual(code, 1, output)
                self.assertIn(f"{folder}/deep/Late.cpp:1: banned", output)

    def test_generated_and_host_files_are_left_alone(self):
        with tempfile.TemporaryDirectory() as directory:
            pathlib.Path(directory, "roster").mkdir()
            pathlib.Path(directory, "roster", "AutoGen.cpp").write_text("VOID *P = nullptr;\n")
            pathlib.Path(directory, "roster", "Clean.cpp").write_text("UINTN mCount;\n")
            pathlib.Path(directory, "sim").mkdir()
            pathlib.Path(directory, "sim", "Host.cpp").write_text("auto p = nullptr;\n")
            code, output = self.run_main(directory)
            self.assertEqual(code, 0, output)

    def test_listed_e2e_exceptions_cap_the_count(self):
        listed = firmware_style.E2E_EXISTING[("ReportLine.cpp", "declaration")]
        body = "".join(f"  G();\n  UINTN V{index};\n" for index in range(listed + 1))
        with tempfile.TemporaryDirectory() as directory:
            folder = pathlib.Path(directory, "e2e", "board_platform")
            folder.mkdir(parents=True)
            source = folder / "ReportLine.cpp"
            source.write_text("VOID F(VOID) {\n" + body[: body.rindex("  G();")] + "}\n")
            self.assertEqual(self.run_main(directory)[0], 0)
            source.write_text("VOID F(VOID) {\n" + body + "}\n")
            code, output = self.run_main(directory)
            self.assertEqual(code, 1, output)
            self.assertIn(f"{listed + 1} violations where {listed} are listed", output)

    def test_the_repository_keeps_the_style(self):
        code, output = self.run_main(pathlib.Path(__file__).resolve().parents[2])
        self.assertEqual(code, 0, output)


if __name__ == "__main__":
    unittest.main()
