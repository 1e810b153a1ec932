// Board harness: started by the boot manager as \EFI\BOOT\BOOTX64.EFI on the virtual
// board. It plays the platform components around Roster and Hotlatch, lets the host
// press the hot key twice, and reports everything it saw on the console before it
// powers the board off. The runner judges the report against the board definition.
#include <Uefi.h>
#include <Protocol/DebugKeyDisarm.h>
#include <Protocol/InventoryTrigger.h>
#include <Protocol/LoadedImage.h>
#include "BmcRecorder.h"
#include "BoardConfig.h"
#include "BoardOutput.h"
#include "ControllerConnect.h"
#include "ImageFile.h"
#include "KeyboardWait.h"
#include "Measurements.h"
#include "PlatformPeers.h"
#include "FinalReport.h"
#include "RootBridges.h"
#include "SetupVariables.h"
#include "StatusCodeCapture.h"

namespace {

// Time for the key notification's variable writes to land after the keystroke shows.
constexpr UINTN kSettleMicroseconds = 300000;
constexpr UINTN kPollMicroseconds = 10000;

// Loads and starts one image from the harness's volume, as the DXE dispatcher would,
// and returns its handle (NULL when it did not load).
EFI_HANDLE LoadAndStartDriver(EFI_HANDLE HarnessImage, EFI_SYSTEM_TABLE *SystemTable, CONST CHAR16 *Path,
                              CONST CHAR8 *Name) {
  EFI_BOOT_SERVICES *BootServices = SystemTable->BootServices;
  VOID *Buffer = NULL;
  UINTN Size = 0;
  EFI_HANDLE Driver = NULL;
  EFI_STATUS Load = EFI_NOT_STARTED, Start = EFI_NOT_STARTED;
  UINT64 ImageSize = 0, CodeType = 0;
  EFI_STATUS Read = ReadImageFile(HarnessImage, SystemTable, Path, &Buffer, &Size);
  if (!EFI_ERROR(Read)) {
    Load = BootServices->LoadImage(FALSE, HarnessImage, NULL, Buffer, Size, &Driver);
    BootServices->FreePool(Buffer);
  }
  if (!EFI_ERROR(Load)) {
    EFI_LOADED_IMAGE_PROTOCOL *Loaded = NULL;
    if (!EFI_ERROR(BootServices->HandleProtocol(Driver, &gEfiLoadedImageProtocolGuid, (VOID **)&Loaded))) {
      ImageSize = Loaded->ImageSize;
      CodeType = (UINT64)Loaded->ImageCodeType;
    }
    UINTN ExitDataSize = 0;
    CHAR16 *ExitData = NULL;
    Start = BootServices->StartImage(Driver, &ExitDataSize, &ExitData);
    if (ExitData != NULL) {
      BootServices->FreePool(ExitData);
    }
  } else {
    Driver = NULL;
  }
  BoardLineStart("BOARD IMAGE name=");
  BoardAppendText(Name);
  BoardAppendField("read", Read);
  BoardAppendField("filesize", Size);
  BoardAppendField("load", Load);
  BoardAppendField("start", Start);
  BoardAppendField("imagesize", ImageSize);
  BoardAppendField("codetype", CodeType);
  BoardLineEnd();
  return EFI_ERROR(Start) ? NULL : Driver;
}

VOID InstallTrigger(EFI_BOOT_SERVICES *BootServices, UINTN Number) {
  UINT64 Before = ReadTsc();
  EFI_STATUS Status = InstallSignalProtocol(BootServices, &gInventoryTriggerProtocolGuid);
  UINT64 After = ReadTsc();
  BoardLineStart("BOARD TRIGGER");
  BoardAppendField("n", Number);
  BoardAppendField("status", Status);
  BoardAppendField("ticks", After - Before);
  BoardAppendField("records", StatusCodeCaptureCount());
  BoardLineEnd();
}

// The first press must reach Hotlatch, which sets "Setup" byte 888; watching the byte
// itself is what proves the press did its work.
VOID WaitForFirstPress(EFI_SYSTEM_TABLE *SystemTable, UINT32 TimeoutSeconds) {
  DrainKeys(SystemTable);
  BoardLine("BOARD WAIT key=1");
  UINT64 Polls = (UINT64)TimeoutSeconds * (1000000 / kPollMicroseconds);
  UINT8 Option = 0;
  BOOLEAN Seen = FALSE;
  UINT64 Poll = 0;
  for (; Poll < Polls; Poll++) {
    if (ReadSetupDebugByte(SystemTable->RuntimeServices, &Option) && Option == 1) {
      Seen = TRUE;
      break;
    }
    SystemTable->BootServices->Stall(kPollMicroseconds);
  }
  SystemTable->BootServices->Stall(kSettleMicroseconds);
  BoardLineStart("BOARD KEY n=1");
  BoardAppendField("seen", Seen);
  BoardAppendField("ms", Poll * (kPollMicroseconds / 1000));
  BoardLineEnd();
}

// After the disarm nothing may change, so the keystroke itself marks the press.
VOID WaitForSecondPress(EFI_SYSTEM_TABLE *SystemTable, UINT32 TimeoutSeconds) {
  DrainKeys(SystemTable);
  BoardLine("BOARD WAIT key=2");
  EFI_KEY_DATA Key = {};
  BOOLEAN Seen = WaitForKeystroke(SystemTable, TimeoutSeconds, &Key);
  SystemTable->BootServices->Stall(kSettleMicroseconds);
  BoardLineStart("BOARD KEY n=2");
  BoardAppendField("seen", Seen);
  BoardAppendField("unicode", Key.Key.UnicodeChar);
  BoardAppendField("shift", Key.KeyState.KeyShiftState);
  BoardLineEnd();
}

}  // namespace

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_BOOT_SERVICES *BootServices = SystemTable->BootServices;
  // The boot manager's five-minute watchdog would outlast the runner's own limit anyway.
  BootServices->SetWatchdogTimer(0, 0, 0, NULL);
  BoardOutputInit(SystemTable);
  BoardLine("BOARD START");
  // The runner checks Tesk registrations against this table's address.
  BoardLineStart("BOARD RUNTIME");
  BoardAppendField("table", (UINT64)(UINTN)SystemTable->RuntimeServices);
  BoardLineEnd();

  BOARD_CONFIG Config = {};
  EFI_STATUS Status = ReadBoardConfig(ImageHandle, SystemTable, &Config);
  BoardStatusLine("BOARD CONFIG", Status);
  if (EFI_ERROR(Status)) {
    // Without the board's values no expectation holds: end without the completion line.
    SystemTable->RuntimeServices->ResetSystem(EfiResetShutdown, Status, 0, NULL);
    return Status;
  }

  BoardStatusLine("BOARD CAPTURE", StatusCodeCaptureStart(BootServices));
  BoardLineStart("BOARD CONNECT");
  BoardAppendField("pciio", ConnectAllPciControllers(BootServices));
  BoardLineEnd();
  BoardStatusLine("BOARD DEBUGCONFIG", SetDebugMessageConfig(SystemTable->RuntimeServices));
  BoardLineStart("BOARD PEERS");
  BoardAppendField("status", InstallPlatformPeers(BootServices, Config.IdentityWords));
  BoardAppendField("tesk", (UINT64)(UINTN)TeskServiceInterface());
  BoardLineEnd();

  // What the root bridges say of their buses when the inventory runs.
  BOARD_ROOT_BRIDGES Bridges;
  FindRootBridges(BootServices, &Bridges);
  ReportRootBridges(&Bridges);

  EFI_HANDLE Roster = LoadAndStartDriver(ImageHandle, SystemTable, u"\\Roster.efi", "Roster.efi");
  InstallTrigger(BootServices, 1);
  InstallTrigger(BootServices, 2);

  BoardStatusLine("BOARD SETUPVARS", CreateSetupVariables(SystemTable->RuntimeServices, &Config));
  ReportSetupVariables(SystemTable, "created");
  EFI_HANDLE Hotlatch = LoadAndStartDriver(ImageHandle, SystemTable, u"\\Hotlatch.efi", "Hotlatch.efi");
  ReportSetupVariables(SystemTable, "start");

  UINT64 Before = ReadTsc();
  UINTN Renewed = RenewPs2Keyboards(BootServices);
  BoardLineStart("BOARD KEYBOARD");
  BoardAppendField("renewed", Renewed);
  BoardAppendField("ticks", ReadTsc() - Before);
  BoardLineEnd();

  WaitForFirstPress(SystemTable, Config.KeyWaitSeconds);
  ReportSetupVariables(SystemTable, "key");
  BoardStatusLine("BOARD RESETOPTIONS", WriteAllOptions(SystemTable->RuntimeServices, 0));
  BoardStatusLine("BOARD DISARM", InstallSignalProtocol(BootServices, &gDebugKeyDisarmProtocolGuid));
  WaitForSecondPress(SystemTable, Config.KeyWaitSeconds);
  ReportSetupVariables(SystemTable, "disarm");

  ReportAndPowerOff(SystemTable, &Bridges, Roster, Hotlatch, ImageHandle, "BoardHarness.efi");
  return EFI_SUCCESS;
}
