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
#include <Protocol/DebugKeyDisarm.h>
#include <Protocol/InventoryTrigger.h>
#include <Protocol/SimpleTextInputEx.h>
#include "BmcRecorder.h"
#include "BoardConfig.h"
#include "BoardOutput.h"
#include "ControllerConnect.h"
#include "DispatchedImages.h"
#include "Measurements.h"
#include "PlatformPeers.h"
#include "PortIo.h"
#include "SetupVariables.h"
#include "StatusCodeCapture.h"

namespace {

// The runner hands the board definition over as this fw_cfg file.
CONST CHAR8 kConfigFile[] = "opt/roster-hotlatch/board-config";
constexpr UINT64 kTickPeriod = 1000000;  // 100 ms in 100 ns units
constexpr UINTN kTicksPerSecond = 10;
// Time for the key notification's variable writes to land after the key shows.
constexpr UINTN kSettleTicks = 3;
constexpr EFI_GUID kVariableWriteArchProtocolGuid = {0x6441F818, 0x6362, 0x4E44, {0xB5, 0x70, 0x7D, 0xBA, 0x31, 0xDD, 0x24, 0x53}};

enum BOARD_STAGE {
  StageSecondTrigger,
  StageWaitFirstKey,
  StageSettleFirstKey,
  StageWaitSecondKey,
  StageSettleSecondKey,
  StageDone,
};

EFI_HANDLE mImageHandle = NULL;
EFI_SYSTEM_TABLE *mSystemTable = NULL;
BOARD_CONFIG mConfig = {};
EFI_EVENT mReadyToBootEvent = NULL;
EFI_EVENT mVariableWriteEvent = NULL;
VOID *mVariableWriteRegistration = NULL;
BOOLEAN mDebugConfigPresent = FALSE;
EFI_EVENT mTickEvent = NULL;
BOARD_STAGE mStage = StageDone;
UINTN mTicksInStage = 0;
BOOLEAN mFirstKeySeen = FALSE;
// Set by the key notification; read by the tick.
volatile UINTN mKeyPresses = 0;
UINTN mKeyPressesAtDisarm = 0;
EFI_KEY_DATA mLastKey = {};
EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *mConsoleInput = NULL;
VOID *mKeyNotifyHandle = NULL;

DISPATCHED_IMAGE mRoster = {"Roster.efi", &gRosterFileGuid, NULL, 0, NULL, FALSE, 0, 0, 0};
DISPATCHED_IMAGE mHotlatch = {"Hotlatch.efi", &gHotlatchFileGuid, NULL, 0, NULL, FALSE, 0, 0, 0};

VOID ReportStep(CONST CHAR8 *Line, EFI_STATUS Status) {
  BoardLineStart(Line);
  BoardAppendField("status", Status);
  BoardLineEnd();
}

VOID InstallTrigger(UINTN Number) {
  EFI_STATUS Status = InstallSignalProtocol(mSystemTable->BootServices, &gInventoryTriggerProtocolGuid);
  BoardLineStart("BOARD TRIGGER");
  BoardAppendField("n", Number);
  BoardAppendField("status", Status);
  BoardAppendField("records", StatusCodeCaptureCount());
  BoardLineEnd();
}

EFI_STATUS EFIAPI KeyPressed(EFI_KEY_DATA *KeyData) {
  mLastKey = *KeyData;
  mKeyPresses = mKeyPresses + 1;
  return EFI_SUCCESS;
}

// Ctrl+Alt+d on the console's input, which forwards to every keyboard: the press itself,
// whatever the drivers make of it.
VOID WatchHotKey(VOID) {
  EFI_STATUS Status = EFI_NOT_FOUND;
  if (mSystemTable->ConsoleInHandle != NULL) {
    Status = mSystemTable->BootServices->HandleProtocol(mSystemTable->ConsoleInHandle, &gEfiSimpleTextInputExProtocolGuid,
                                                        (VOID **)&mConsoleInput);
  }
  if (!EFI_ERROR(Status)) {
    EFI_KEY_DATA Key = {};
    Key.Key.UnicodeChar = u'd';
    Key.KeyState.KeyShiftState = EFI_SHIFT_STATE_VALID | EFI_LEFT_CONTROL_PRESSED | EFI_LEFT_ALT_PRESSED;
    Status = mConsoleInput->RegisterKeyNotify(mConsoleInput, &Key, KeyPressed, &mKeyNotifyHandle);
  }
  ReportStep("BOARD KEYWATCH", Status);
}

VOID Finish(VOID) {
  EFI_BOOT_SERVICES *BootServices = mSystemTable->BootServices;
  BoardLineStart("BOARD TSC");
  BoardAppendField("per100ms", MeasureTscPer100Ms(BootServices));
  BoardLineEnd();
  UINTN Present = 0;
  UINT64 Ticks = MeasureBareVendorScan(BootServices, &Present);
  BoardLineStart("BOARD SCAN");
  BoardAppendField("reads", 65536);
  BoardAppendField("present", Present);
  BoardAppendField("ticks", Ticks);
  BoardLineEnd();
  ReportLoadedImages(BootServices, mRoster.Handle, mHotlatch.Handle, mImageHandle, "BoardDxe.efi");
  StatusCodeCaptureStop();
  BmcRecorderReport();
  TeskRecorderReport();
  StatusCodeCaptureReport();
  BoardLine("BOARD COMPLETE");
  mSystemTable->RuntimeServices->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, NULL);
}

VOID EnterStage(BOARD_STAGE Stage) {
  mStage = Stage;
  mTicksInStage = 0;
}

// One step of the run every 100 ms, at TPL_CALLBACK: the boot manager and its screen go
// on underneath, as they would on a real board.
VOID EFIAPI Tick(EFI_EVENT Event, VOID *Context) {
  UINTN Limit = (UINTN)mConfig.KeyWaitSeconds * kTicksPerSecond;
  UINT8 Option = 0;
  mTicksInStage++;
  switch (mStage) {
    case StageSecondTrigger:
      // A second installation must not take a second inventory.
      InstallTrigger(2);
      BoardLine("BOARD WAIT key=1");
      EnterStage(StageWaitFirstKey);
      break;
    case StageWaitFirstKey:
      // The press must reach Hotlatch, which sets "Setup" byte 888: the byte itself
      // proves the press did its work.
      if (ReadSetupDebugByte(mSystemTable->RuntimeServices, &Option) && Option == 1) {
        mFirstKeySeen = TRUE;
      }
      if (mFirstKeySeen || mTicksInStage >= Limit) {
        BoardLineStart("BOARD KEY n=1");
        BoardAppendField("seen", mFirstKeySeen);
        BoardAppendField("ms", mTicksInStage * (1000 / kTicksPerSecond));
        BoardAppendField("presses", mKeyPresses);
        BoardLineEnd();
        EnterStage(StageSettleFirstKey);
      }
      break;
    case StageSettleFirstKey:
      if (mTicksInStage >= kSettleTicks) {
        ReportSetupVariables(mSystemTable, "key");
        ReportStep("BOARD RESETOPTIONS", WriteAllOptions(mSystemTable->RuntimeServices, 0));
        ReportStep("BOARD DISARM", InstallSignalProtocol(mSystemTable->BootServices, &gDebugKeyDisarmProtocolGuid));
        mKeyPressesAtDisarm = mKeyPresses;
        BoardLine("BOARD WAIT key=2");
        EnterStage(StageWaitSecondKey);
      }
      break;
    case StageWaitSecondKey:
      // After the disarm nothing may change, so the keystroke itself marks the press.
      if (mKeyPresses != mKeyPressesAtDisarm || mTicksInStage >= Limit) {
        BoardLineStart("BOARD KEY n=2");
        BoardAppendField("seen", mKeyPresses != mKeyPressesAtDisarm);
        BoardAppendField("unicode", mLastKey.Key.UnicodeChar);
        BoardAppendField("shift", mLastKey.KeyState.KeyShiftState);
        BoardLineEnd();
        EnterStage(StageSettleSecondKey);
      }
      break;
    case StageSettleSecondKey:
      if (mTicksInStage >= kSettleTicks) {
        ReportSetupVariables(mSystemTable, "disarm");
        EnterStage(StageDone);
        mSystemTable->BootServices->SetTimer(mTickEvent, TimerCancel, 0);
        Finish();
      }
      break;
    case StageDone:
      break;
  }
}

// End of DXE: every driver the dispatcher could start has started.
VOID EFIAPI EndOfDxe(EFI_EVENT Event, VOID *Context) {
  mSystemTable->BootServices->CloseEvent(Event);
  BoardLine("BOARD ENDOFDXE");
  ReportDispatchedImage(mSystemTable->BootServices, &mRoster, mImageHandle);
  ReportDispatchedImage(mSystemTable->BootServices, &mHotlatch, mImageHandle);
  ReportSetupVariables(mSystemTable, "start");
}

// The first boot attempt: devices are connected, the inventory is due.
VOID EFIAPI ReadyToBoot(EFI_EVENT Event, VOID *Context) {
  EFI_BOOT_SERVICES *BootServices = mSystemTable->BootServices;
  BootServices->CloseEvent(mReadyToBootEvent);
  mReadyToBootEvent = NULL;
  BoardLine("BOARD READYTOBOOT");
  BoardLineStart("BOARD CONNECT");
  BoardAppendField("pciio", ConnectAllPciControllers(BootServices));
  BoardLineEnd();
  WatchHotKey();
  InstallTrigger(1);
  EFI_STATUS Status = BootServices->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Tick, NULL, &mTickEvent);
  if (!EFI_ERROR(Status)) {
    Status = BootServices->SetTimer(mTickEvent, TimerPeriodic, kTickPeriod);
  }
  ReportStep("BOARD TIMER", Status);
  EnterStage(StageSecondTrigger);
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
  return !EFI_ERROR(RuntimeServices->GetVariable(kDebugMessageConfigName, &gDebugMessageConfigGuid, NULL, &Size, Config));
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
  ReportStep("BOARD SETUPVARS", CreateSetupVariables(mSystemTable->RuntimeServices, &mConfig));
  ReportSetupVariables(mSystemTable, "created");
}

EFI_STATUS WatchVariableWrites(EFI_BOOT_SERVICES *BootServices) {
  EFI_STATUS Status = BootServices->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, VariableWriteReady, NULL, &mVariableWriteEvent);
  if (!EFI_ERROR(Status)) {
    Status = BootServices->RegisterProtocolNotify(&kVariableWriteArchProtocolGuid, mVariableWriteEvent, &mVariableWriteRegistration);
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
  mImageHandle = ImageHandle;
  mSystemTable = SystemTable;
  EFI_STATUS Status = PortIoInit(BootServices);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  BoardOutputInitSink(DebugConsoleWrite);
  BoardLine("BOARD START");
  ReportOrder(BootServices);
  // The runner checks Tesk registrations against this table's address.
  BoardLineStart("BOARD RUNTIME");
  BoardAppendField("table", (UINT64)(UINTN)SystemTable->RuntimeServices);
  BoardLineEnd();

  UINTN Size = 0;
  Status = FwCfgReadFile(kConfigFile, &mConfig, sizeof(mConfig), &Size);
  if (!EFI_ERROR(Status)) {
    Status = ParseBoardConfig(&mConfig, Size, &mConfig);
  }
  ReportStep("BOARD CONFIG", Status);
  if (EFI_ERROR(Status)) {
    // Without the board's values no expectation holds: stay out of the way.
    return Status;
  }

  ReportStep("BOARD CAPTURE", StatusCodeCaptureStart(BootServices));
  mDebugConfigPresent = DebugMessageConfigPresent(SystemTable->RuntimeServices);
  BoardLineStart("BOARD PEERS");
  BoardAppendField("status", InstallPlatformPeers(BootServices, mConfig.IdentityWords));
  BoardAppendField("tesk", (UINT64)(UINTN)TeskServiceInterface());
  BoardLineEnd();

  EFI_EVENT EndOfDxeEvent = NULL;
  Status = WatchVariableWrites(BootServices);
  if (!EFI_ERROR(Status)) {
    Status = BootServices->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, EndOfDxe, NULL, &gEfiEndOfDxeEventGroupGuid, &EndOfDxeEvent);
  }
  if (!EFI_ERROR(Status)) {
    Status = BootServices->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, ReadyToBoot, NULL, &gEfiEventReadyToBootGuid, &mReadyToBootEvent);
  }
  ReportStep("BOARD EVENTS", Status);
  return Status;
}
