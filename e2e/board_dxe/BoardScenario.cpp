#include "BoardScenario.h"
#include <Protocol/DebugKeyDisarm.h>
#include <Protocol/InventoryTrigger.h>
#include <Protocol/SimpleTextInputEx.h>
#include "BmcRecorder.h"
#include "BoardOutput.h"
#include "FinalReport.h"
#include "Measurements.h"
#include "PlatformPeers.h"
#include "RootBridges.h"
#include "SetupVariables.h"
#include "StatusCodeCapture.h"

namespace {

constexpr UINT64 kTickPeriod = 1000000;  // 100 ms in 100 ns units
constexpr UINTN kTicksPerSecond = 10;
// Time for the key notification's variable writes to land after the key shows.
constexpr UINTN kSettleTicks = 3;

enum BOARD_STAGE {
  StageSecondTrigger,
  StageWaitFirstKey,
  StageSettleFirstKey,
  StageWaitSecondKey,
  StageSettleSecondKey,
  StageDone,
};

BOARD_SCENARIO mScenario = {};
BOARD_ROOT_BRIDGES mBridges = {};
EFI_EVENT mTickEvent = NULL;
BOARD_STAGE mStage = StageDone;
UINTN mTicksInStage = 0;
BOOLEAN mFirstKeySeen = FALSE;
// Set by the key notification; read by the tick.
volatile UINTN mKeyPresses = 0;
UINTN mKeyPressesAtDisarm = 0;
EFI_KEY_DATA mLastKey = {};
VOID *mKeyNotifyHandle = NULL;

VOID InstallTrigger(UINTN Number) {
  EFI_STATUS Status = InstallSignalProtocol(mScenario.SystemTable->BootServices, &gInventoryTriggerProtocolGuid);
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
VOID WatchHotKey(EFI_SYSTEM_TABLE *SystemTable) {
  EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *Input = NULL;
  EFI_STATUS Status = EFI_NOT_FOUND;
  if (SystemTable->ConsoleInHandle != NULL) {
    Status = SystemTable->BootServices->HandleProtocol(SystemTable->ConsoleInHandle, &gEfiSimpleTextInputExProtocolGuid,
                                                       (VOID **)&Input);
  }
  if (!EFI_ERROR(Status)) {
    EFI_KEY_DATA Key = {};
    Key.Key.UnicodeChar = u'd';
    Key.KeyState.KeyShiftState = EFI_SHIFT_STATE_VALID | EFI_LEFT_CONTROL_PRESSED | EFI_LEFT_ALT_PRESSED;
    Status = Input->RegisterKeyNotify(Input, &Key, KeyPressed, &mKeyNotifyHandle);
  }
  BoardStatusLine("BOARD KEYWATCH", Status);
}

VOID Finish(VOID) {
  ReportAndPowerOff(mScenario.SystemTable, &mBridges, mScenario.Roster, mScenario.Hotlatch, mScenario.ImageHandle,
                    "BoardDxe.efi");
}

VOID EnterStage(BOARD_STAGE Stage) {
  mStage = Stage;
  mTicksInStage = 0;
}

VOID EFIAPI Tick(EFI_EVENT Event, VOID *Context) {
  EFI_SYSTEM_TABLE *SystemTable = mScenario.SystemTable;
  UINTN Limit = (UINTN)mScenario.KeyWaitSeconds * kTicksPerSecond;
  UINT8 Option = 0;
  mTicksInStage++;
  switch (mStage) {
    case StageSecondTrigger:
      InstallTrigger(2);
      BoardLine("BOARD WAIT key=1");
      EnterStage(StageWaitFirstKey);
      break;
    case StageWaitFirstKey:
      // The press must reach Hotlatch, which sets "Setup" byte 888: the byte itself
      // proves the press did its work.
      if (ReadSetupDebugByte(SystemTable->RuntimeServices, &Option) && Option == 1) {
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
        ReportSetupVariables(SystemTable, "key");
        BoardStatusLine("BOARD RESETOPTIONS", WriteAllOptions(SystemTable->RuntimeServices, 0));
        BoardStatusLine("BOARD DISARM", InstallSignalProtocol(SystemTable->BootServices, &gDebugKeyDisarmProtocolGuid));
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
        ReportSetupVariables(SystemTable, "disarm");
        EnterStage(StageDone);
        SystemTable->BootServices->SetTimer(mTickEvent, TimerCancel, 0);
        Finish();
      }
      break;
    case StageDone:
      break;
  }
}

}  // namespace

VOID BoardScenarioStart(CONST BOARD_SCENARIO *Scenario) {
  mScenario = *Scenario;
  EFI_BOOT_SERVICES *BootServices = mScenario.SystemTable->BootServices;
  WatchHotKey(mScenario.SystemTable);
  // What the root bridges say of their buses when the inventory runs.
  FindRootBridges(BootServices, &mBridges);
  ReportRootBridges(&mBridges);
  InstallTrigger(1);
  EFI_STATUS Status = BootServices->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Tick, NULL, &mTickEvent);
  if (!EFI_ERROR(Status)) {
    Status = BootServices->SetTimer(mTickEvent, TimerPeriodic, kTickPeriod);
  }
  BoardStatusLine("BOARD TIMER", Status);
  EnterStage(StageSecondTrigger);
}
