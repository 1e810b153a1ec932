// Board harness: started by the boot manager as \EFI\BOOT\BOOTX64.EFI on the virtual
// board. It plays the platform components around Roster and Hotlatch, lets the host
// press the hot key twice, and reports everything it saw on the console before it
// powers the board off. The runner judges the report against the board definition.
// The steps are the board driver's (BoardSteps.h); this application runs them in
// sequence, loads the drivers from its volume and waits for the presses by polling.
#include <Uefi.h>
#include "BoardConfig.h"
#include "BoardOutput.h"
#include "BoardSteps.h"
#include "ControllerConnect.h"
#include "ImageFile.h"
#include "ImageLoad.h"
#include "KeyboardWait.h"
#include "Measurements.h"
#include "SetupVariables.h"

namespace {

// Time for the key notification's variable writes to land after the keystroke shows.
constexpr UINTN kSettleMicroseconds = 300000;
constexpr UINTN kPollMicroseconds = 10000;

// \BOARD.CFG from the harness's own volume.
EFI_STATUS ReadBoardConfig(EFI_HANDLE HarnessImage, EFI_SYSTEM_TABLE *SystemTable, BOARD_CONFIG *Config) {
  VOID *Buffer = NULL;
  UINTN Size = 0;
  EFI_STATUS Status = ReadImageFile(HarnessImage, SystemTable, u"\\BOARD.CFG", &Buffer, &Size);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Status = ParseBoardConfig(Buffer, Size, Config);
  SystemTable->BootServices->FreePool(Buffer);
  return Status;
}

// Loads and starts one driver as the DXE dispatcher would and returns its handle (NULL
// when it did not start).
EFI_HANDLE LoadAndStartDriver(EFI_HANDLE HarnessImage, EFI_SYSTEM_TABLE *SystemTable, CONST CHAR16 *Path,
                              CONST CHAR8 *Name) {
  IMAGE_LOAD_RESULT Result;
  LoadAndStartImageFile(HarnessImage, SystemTable, Path, &Result);
  BoardLineStart("BOARD IMAGE name=");
  BoardAppendText(Name);
  BoardAppendField("read", Result.Read.Value);
  BoardAppendField("filesize", Result.FileSize.Value);
  BoardAppendField("load", Result.Load.Value);
  BoardAppendField("start", Result.Start.Value);
  BoardAppendField("imagesize", Result.ImageSize.Value);
  BoardAppendField("codetype", Result.CodeType.Value);
  BoardLineEnd();
  return Result.Handle;
}

VOID WaitForFirstPress(EFI_SYSTEM_TABLE *SystemTable, UINT32 TimeoutSeconds) {
  UINT64 Polls = (UINT64)TimeoutSeconds * (1000000 / kPollMicroseconds);
  BOOLEAN Seen = FALSE;
  UINT64 Poll = 0;
  DrainKeys(SystemTable);
  BoardLine("BOARD WAIT key=1");
  for (; Poll < Polls; Poll++) {
    if (BoardStepFirstPressLanded(SystemTable->RuntimeServices)) {
      Seen = TRUE;
      break;
    }
    SystemTable->BootServices->Stall(kPollMicroseconds);
  }
  SystemTable->BootServices->Stall(kSettleMicroseconds);
  BoardStepFirstKeyResult(Seen, Poll * (kPollMicroseconds / 1000), NULL);
}

VOID WaitForSecondPress(EFI_SYSTEM_TABLE *SystemTable, UINT32 TimeoutSeconds) {
  EFI_KEY_DATA Key = {};
  BOOLEAN Seen = FALSE;
  DrainKeys(SystemTable);
  BoardLine("BOARD WAIT key=2");
  Seen = WaitForKeystroke(SystemTable, TimeoutSeconds, &Key);
  SystemTable->BootServices->Stall(kSettleMicroseconds);
  BoardStepSecondKeyResult(Seen, &Key);
}

}  // namespace

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_BOOT_SERVICES *BootServices = SystemTable->BootServices;
  BOARD_CONFIG Config = {};
  BOARD_ROOT_BRIDGES Bridges;
  EFI_STATUS Status = EFI_SUCCESS;
  EFI_HANDLE Roster = NULL, Hotlatch = NULL;
  UINT64 Before = 0;
  UINTN Renewed = 0;
  // The boot manager's five-minute watchdog would outlast the runner's own limit anyway.
  BootServices->SetWatchdogTimer(0, 0, 0, NULL);
  BoardOutputInit(SystemTable);
  BoardLine("BOARD START");
  BoardStepRuntimeTable(SystemTable);

  Status = ReadBoardConfig(ImageHandle, SystemTable, &Config);
  BoardStatusLine("BOARD CONFIG", Status);
  if (EFI_ERROR(Status)) {
    // Without the board's values no expectation holds: end without the completion line.
    SystemTable->RuntimeServices->ResetSystem(EfiResetShutdown, Status, 0, NULL);
    return Status;
  }

  BoardStepStartCapture(BootServices);
  BoardStepConnect(BootServices);
  BoardStatusLine("BOARD DEBUGCONFIG", SetDebugMessageConfig(SystemTable->RuntimeServices));
  // The platform's own transport starts before the drivers, as its place in a volume would
  // have it; the board then installs no transport of its own.
  if (Config.Transport == BOARD_TRANSPORT_PLATFORM) {
    LoadAndStartDriver(ImageHandle, SystemTable, u"\\KcsTransport.efi", "KcsTransport.efi");
  }
  BoardStepInstallPeers(BootServices, &Config);
  BoardStepRootBridges(BootServices, &Bridges);

  Roster = LoadAndStartDriver(ImageHandle, SystemTable, u"\\Roster.efi", "Roster.efi");
  BoardStepTrigger(BootServices, 1, TRUE);
  BoardStepTrigger(BootServices, 2, TRUE);

  BoardStepCreateSetupVariables(SystemTable, &Config);
  Hotlatch = LoadAndStartDriver(ImageHandle, SystemTable, u"\\Hotlatch.efi", "Hotlatch.efi");
  ReportSetupVariables(SystemTable, "start");

  Before = ReadTsc();
  Renewed = RenewPs2Keyboards(BootServices);
  BoardLineStart("BOARD KEYBOARD");
  BoardAppendField("renewed", Renewed);
  BoardAppendField("ticks", ReadTsc() - Before);
  BoardLineEnd();

  WaitForFirstPress(SystemTable, Config.KeyWaitSeconds);
  BoardStepResetAndDisarm(SystemTable);
  WaitForSecondPress(SystemTable, Config.KeyWaitSeconds);
  BoardStepFinish(SystemTable, &Bridges, Roster, Hotlatch, ImageHandle, "BoardHarness.efi");
  return EFI_SUCCESS;
}
