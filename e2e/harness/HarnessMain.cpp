// Smoke-boot harness: started by the boot manager as \EFI\BOOT\BOOTX64.EFI, it loads
// and starts each driver image from its own volume the way the DXE dispatcher would,
// reports every step on the console, and powers the machine off. The host runner
// judges the report; a line that never appears is as much a failure as an error.
#include <Uefi.h>
#include "BoardOutput.h"
#include "ImageLoad.h"
#include "MemoryRoutinesCheck.h"

namespace {

struct IMAGE_UNDER_TEST {
  CONST CHAR16 *Path;
  CONST CHAR8 *Name;
};

CONST IMAGE_UNDER_TEST mImages[] = {
    {u"\\Roster.efi", "Roster.efi"},
    {u"\\Hotlatch.efi", "Hotlatch.efi"},
};

// A step that never ran is reported by name, never as a status, so it cannot read as
// success.
VOID AppendStep(CONST CHAR8 *Label, IMAGE_LOAD_STEP Step) {
  BoardAppendText(" ");
  BoardAppendText(Label);
  BoardAppendText("=");
  if (Step.Ran) {
    BoardAppendHex(Step.Value);
  } else {
    BoardAppendText("NotRun");
  }
}

VOID LoadAndStartImage(EFI_HANDLE HarnessImage, EFI_SYSTEM_TABLE *SystemTable, CONST IMAGE_UNDER_TEST *Image) {
  IMAGE_LOAD_RESULT Result;
  LoadAndStartImageFile(HarnessImage, SystemTable, Image->Path, &Result);
  BoardLineStart("HARNESS IMAGE ");
  BoardAppendText(Image->Name);
  AppendStep("Read", Result.Read);
  AppendStep("FileSize", Result.FileSize);
  AppendStep("LoadImage", Result.Load);
  AppendStep("StartImage", Result.Start);
  AppendStep("ImageSize", Result.ImageSize);
  AppendStep("CodeType", Result.CodeType);
  BoardLineEnd();
}

}  // namespace

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  // The boot manager arms a five-minute watchdog for boot options; the runner keeps its
  // own, shorter, time limit.
  SystemTable->BootServices->SetWatchdogTimer(0, 0, 0, NULL);
  BoardOutputInit(SystemTable);

  BoardLineStart("HARNESS START firmware=");
  BoardAppendWide(SystemTable->FirmwareVendor != NULL ? SystemTable->FirmwareVendor : u"?");
  BoardAppendText(" revision=");
  BoardAppendHex(SystemTable->FirmwareRevision);
  BoardLineEnd();

  BoardLineStart("HARNESS CHECK memory-routines=");
  BoardAppendText(MemoryRoutinesWork() ? "pass" : "fail");
  BoardLineEnd();

  for (UINTN Index = 0; Index < ARRAY_SIZE(mImages); Index++) {
    LoadAndStartImage(ImageHandle, SystemTable, &mImages[Index]);
  }

  BoardLine("HARNESS COMPLETE");
  SystemTable->RuntimeServices->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, NULL);
  return EFI_SUCCESS;
}
