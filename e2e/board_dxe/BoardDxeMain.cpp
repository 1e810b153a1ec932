// Board-support driver: the platform components around Roster and Hotlatch on the
// virtual board, as a DXE driver in the same firmware volume. The dispatcher starts it
// before both drivers (its dependency expression is met no later than theirs and it comes
// first in the volume); it provides what they expect from the platform, installs the
// inventory trigger when the boot manager signals ready-to-boot, lets the host press the
// hot key at the firmware's own screen, disarms it, and reports everything on QEMU's debug
// console before it powers the board off. The runner judges the report.
//
// Roster may start before variables can be written (its expression does not wait for
// variable writes) and takes its debug level from "DebugMessageConfig" once, so on a real
// board that setting comes from non-volatile storage, written in an earlier boot. A fresh
// variable store gets it the same way: the first boot writes it and resets the board.
#include <Uefi.h>
#include <Guid/DebugMessageConfig.h>
#include <Guid/EventGroup.h>
#include "BoardConfig.h"
#include "BoardOutput.h"
#include "BoardScenario.h"
#include "BoardSteps.h"
#include "DispatchedImages.h"
#include "OsBoot.h"
#include "PortIo.h"
#include "SetupVariables.h"
#include "SsvsProbe.h"
#include "StatusCodeCapture.h"

namespace {

// The runner hands the board definition over as this fw_cfg file.
CONST CHAR8 kConfigFile[] = "opt/roster-hotlatch/board-config";
// Present when the runner boots an operating system: the board then lets the boot go on.
CONST CHAR8 mOsBootFile[] = "opt/roster-hotlatch/os-boot";
constexpr EFI_GUID kVariableWriteArchProtocolGuid = {
    0x6441F818, 0x6362, 0x4E44, {0xB5, 0x70, 0x7D, 0xBA, 0x31, 0xDD, 0x24, 0x53}};

EFI_HANDLE mImageHandle = NULL;
EFI_SYSTEM_TABLE *mSystemTable = NULL;
BOARD_CONFIG mConfig = {};
EFI_EVENT mReadyToBootEvent = NULL;
EFI_EVENT mVariableWriteEvent = NULL;
VOID *mVariableWriteRegistration = NULL;
BOOLEAN mDebugConfigPresent = FALSE;
BOOLEAN mOsBoot = FALSE;

DISPATCHED_IMAGE mRoster = {"Roster.efi", &gRosterFileGuid, NULL, 0, NULL, FALSE, 0, 0, 0};
DISPATCHED_IMAGE mHotlatch = {"Hotlatch.efi", &gHotlatchFileGuid, NULL, 0, NULL, FALSE, 0, 0, 0};
DISPATCHED_IMAGE mKcsTransport = {"KcsTransport.efi", &gKcsTransportFileGuid, NULL, 0, NULL, FALSE, 0, 0, 0};

// End of DXE: every driver the dispatcher could start has started.
VOID EFIAPI EndOfDxe(EFI_EVENT Event, VOID *Context) {
  mSystemTable->BootServices->CloseEvent(Event);
  BoardLine("BOARD ENDOFDXE");
  ReportDispatchedImage(mSystemTable->BootServices, &mRoster, mImageHandle);
  ReportDispatchedImage(mSystemTable->BootServices, &mHotlatch, mImageHandle);
  if (mConfig.Transport == BOARD_TRANSPORT_PLATFORM) {
    FindDispatchedImage(mSystemTable->BootServices, &mKcsTransport);
    ReportDispatchedImage(mSystemTable->BootServices, &mKcsTransport, mImageHandle);
  }
  ReportSetupVariables(mSystemTable, "start");
}

// The first boot attempt: devices are connected, the inventory is due.
VOID EFIAPI ReadyToBoot(EFI_EVENT Event, VOID *Context) {
  EFI_BOOT_SERVICES *BootServices = mSystemTable->BootServices;
  BootServices->CloseEvent(mReadyToBootEvent);
  mReadyToBootEvent = NULL;
  BoardLine("BOARD READYTOBOOT");
  if (mOsBoot) {
    OsBootReadyToBoot();
    return;
  }
  BoardStepConnect(BootServices);
  BOARD_SCENARIO Scenario = {mSystemTable, mImageHandle, mRoster.Handle, mHotlatch.Handle, mConfig.KeyWaitSeconds};
  BoardScenarioStart(&Scenario);
}

// Whether the dispatcher started either driver before this one: the board's components
// must be in place before the drivers' entry points run.
VOID ReportOrder(EFI_BOOT_SERVICES *BootServices) {
  FindDispatchedImage(BootServices, &mRoster);
  FindDispatchedImage(BootServices, &mHotlatch);
  BoardLineStart("BOARD ORDER");
  BoardAppendField("roster", mRoster.Count);
  BoardAppendField("hotlatch", mHotlatch.Count);
  BoardLineEnd();
}

BOOLEAN DebugMessageConfigPresent(EFI_RUNTIME_SERVICES *RuntimeServices) {
  UINT8 Config[64];
  UINTN Size = sizeof(Config);
  return !EFI_ERROR(
      RuntimeServices->GetVariable(kDebugMessageConfigName, &gDebugMessageConfigGuid, NULL, &Size, Config));
}

// Variable writes are up; Hotlatch, which waits for them too, has not started yet.
VOID EFIAPI VariableWriteReady(EFI_EVENT Event, VOID *Context) {
  EFI_BOOT_SERVICES *BootServices = mSystemTable->BootServices;
  VOID *Interface = NULL;
  if (EFI_ERROR(BootServices->LocateProtocol(&kVariableWriteArchProtocolGuid, NULL, &Interface))) {
    return;
  }
  BootServices->CloseEvent(mVariableWriteEvent);
  mVariableWriteEvent = NULL;
  EFI_STATUS Status = SetDebugMessageConfig(mSystemTable->RuntimeServices);
  BoardLineStart("BOARD DEBUGCONFIG");
  BoardAppendField("status", Status);
  BoardAppendField("present", mDebugConfigPresent);
  BoardLineEnd();
  if (!mDebugConfigPresent) {
    BoardLineStart("BOARD FIRSTBOOT");
    BoardAppendField("status", Status);
    BoardLineEnd();
    if (!EFI_ERROR(Status)) {
      mSystemTable->RuntimeServices->ResetSystem(EfiResetCold, EFI_SUCCESS, 0, NULL);
    }
    return;
  }
  BoardStepCreateSetupVariables(mSystemTable, &mConfig);
}

EFI_STATUS WatchVariableWrites(EFI_BOOT_SERVICES *BootServices) {
  EFI_STATUS Status =
      BootServices->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, VariableWriteReady, NULL, &mVariableWriteEvent);
  if (!EFI_ERROR(Status)) {
    Status = BootServices->RegisterProtocolNotify(&kVariableWriteArchProtocolGuid, mVariableWriteEvent,
                                                  &mVariableWriteRegistration);
  }
  if (!EFI_ERROR(Status)) {
    // Already installed: the notification would never come.
    Status = BootServices->SignalEvent(mVariableWriteEvent);
  }
  return Status;
}

}  // namespace

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_BOOT_SERVICES *BootServices = SystemTable->BootServices;
  // Only whether the runner gave the file counts, not what it holds.
  UINT8 OsBootMarker = 0;
  mImageHandle = ImageHandle;
  mSystemTable = SystemTable;
  EFI_STATUS Status = PortIoInit(BootServices);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  BoardOutputInitSink(DebugConsoleWrite);
  BoardLine("BOARD START");
  SsvsProbeReadBack(SystemTable->RuntimeServices);
  ReportOrder(BootServices);
  BoardStepRuntimeTable(SystemTable);

  UINTN Size = 0;
  Status = FwCfgReadFile(kConfigFile, &mConfig, sizeof(mConfig), &Size);
  if (!EFI_ERROR(Status)) {
    Status = ParseBoardConfig(&mConfig, Size, &mConfig);
  }
  BoardStatusLine("BOARD CONFIG", Status);
  if (EFI_ERROR(Status)) {
    // Without the board's values no expectation holds: stay out of the way.
    return Status;
  }
  Size = 0;
  Status = FwCfgReadFile(mOsBootFile, &OsBootMarker, sizeof(OsBootMarker), &Size);
  mOsBoot = Status == EFI_SUCCESS || Status == EFI_BUFFER_TOO_SMALL;

  BoardStepStartCapture(BootServices);
  SsvsProbeFindMmram(BootServices);
  mDebugConfigPresent = DebugMessageConfigPresent(SystemTable->RuntimeServices);
  BoardStepInstallPeers(BootServices, &mConfig);
  if (mOsBoot) {
    BoardStatusLine("BOARD OSBOOT", OsBootStart(SystemTable, &mHotlatch));
  }

  EFI_EVENT EndOfDxeEvent = NULL;
  Status = WatchVariableWrites(BootServices);
  if (!EFI_ERROR(Status)) {
    Status = BootServices->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, EndOfDxe, NULL, &gEfiEndOfDxeEventGroupGuid,
                                         &EndOfDxeEvent);
  }
  if (!EFI_ERROR(Status)) {
    Status = BootServices->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, ReadyToBoot, NULL, &gEfiEventReadyToBootGuid,
                                         &mReadyToBootEvent);
  }
  BoardStatusLine("BOARD EVENTS", Status);
  return Status;
}
