// Smoke-boot harness: started by the boot manager as \EFI\BOOT\BOOTX64.EFI, it loads
// and starts each driver image from its own volume the way the DXE dispatcher would,
// reports every step on the console, and powers the machine off. The host runner
// judges the report; a line that never appears is as much a failure as an error.
#include <Uefi.h>
#include "ImageFile.h"
#include "MemoryRoutinesCheck.h"
#include "ReportLine.h"

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
struct STEP_RESULT {
  BOOLEAN Ran;
  UINT64 Value;
};

VOID AppendStep(REPORT_LINE *Line, CONST CHAR8 *Label, STEP_RESULT Step) {
  ReportLineAppendText(Line, " ");
  ReportLineAppendText(Line, Label);
  ReportLineAppendText(Line, "=");
  if (Step.Ran) {
    ReportLineAppendHex(Line, Step.Value);
  } else {
    ReportLineAppendText(Line, "NotRun");
  }
}

VOID LoadAndStartImage(EFI_HANDLE HarnessImage, EFI_SYSTEM_TABLE *SystemTable, CONST IMAGE_UNDER_TEST *Image) {
  EFI_BOOT_SERVICES *BootServices = SystemTable->BootServices;
  STEP_RESULT FileSize = {}, Read = {}, Load = {}, Start = {}, ImageSize = {}, CodeType = {};

  VOID *Buffer = NULL;
  UINTN Size = 0;
  Read = {TRUE, ReadImageFile(HarnessImage, SystemTable, Image->Path, &Buffer, &Size)};
  if (!EFI_ERROR(Read.Value)) {
    FileSize = {TRUE, Size};
    EFI_HANDLE DriverImage = NULL;
    Load = {TRUE, BootServices->LoadImage(FALSE, HarnessImage, NULL, Buffer, Size, &DriverImage)};
    BootServices->FreePool(Buffer);
    if (!EFI_ERROR(Load.Value)) {
      // Read before starting: the firmware unloads an image whose entry point fails.
      EFI_LOADED_IMAGE_PROTOCOL *LoadedImage = NULL;
      if (!EFI_ERROR(BootServices->HandleProtocol(DriverImage, &gEfiLoadedImageProtocolGuid, (VOID **)&LoadedImage))) {
        ImageSize = {TRUE, LoadedImage->ImageSize};
        CodeType = {TRUE, (UINT64)LoadedImage->ImageCodeType};
      }
      UINTN ExitDataSize = 0;
      CHAR16 *ExitData = NULL;
      Start = {TRUE, BootServices->StartImage(DriverImage, &ExitDataSize, &ExitData)};
      if (ExitData != NULL) {
        BootServices->FreePool(ExitData);
      }
    }
  }

  REPORT_LINE Line;
  ReportLineStart(&Line, "HARNESS IMAGE ");
  ReportLineAppendText(&Line, Image->Name);
  AppendStep(&Line, "Read", Read);
  AppendStep(&Line, "FileSize", FileSize);
  AppendStep(&Line, "LoadImage", Load);
  AppendStep(&Line, "StartImage", Start);
  AppendStep(&Line, "ImageSize", ImageSize);
  AppendStep(&Line, "CodeType", CodeType);
  ReportLineEmit(&Line, SystemTable);
}

}  // namespace

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  // The boot manager arms a five-minute watchdog for boot options; the runner keeps its
  // own, shorter, time limit.
  SystemTable->BootServices->SetWatchdogTimer(0, 0, 0, NULL);

  REPORT_LINE Line;
  ReportLineStart(&Line, "HARNESS START firmware=");
  ReportLineAppendWide(&Line, SystemTable->FirmwareVendor != NULL ? SystemTable->FirmwareVendor : u"?");
  ReportLineAppendText(&Line, " revision=");
  ReportLineAppendHex(&Line, SystemTable->FirmwareRevision);
  ReportLineEmit(&Line, SystemTable);

  ReportLineStart(&Line, "HARNESS CHECK memory-routines=");
  ReportLineAppendText(&Line, MemoryRoutinesWork() ? "pass" : "fail");
  ReportLineEmit(&Line, SystemTable);

  for (UINTN Index = 0; Index < ARRAY_SIZE(mImages); Index++) {
    LoadAndStartImage(ImageHandle, SystemTable, &mImages[Index]);
  }

  ReportLineStart(&Line, "HARNESS COMPLETE");
  ReportLineEmit(&Line, SystemTable);
  SystemTable->RuntimeServices->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, NULL);
  return EFI_SUCCESS;
}
