#include "BoardScenario.h"
#include <Protocol/SimpleTextInputEx.h>
#include "BoardOutput.h"
#include "BoardSteps.h"
#include "RootBridges.h"
#include "SsvsProbe.h"

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

VOID EnterStage(BOARD_STAGE Stage) {
  mStage = Stage;
  mTicksInStage = 0;
}

VOID EFIAPI Tick(EFI_EVENT Event, VOID *Context) {
  EFI_SYSTEM_TABLE *SystemTable = mScenario.SystemTable;
  UINTN Limit = (UINTN)mScenario.KeyWaitSeconds * kTicksPerSecond;
  UINTN Presses = 0;
  mTicksInStage++;
  switch (mStage) {
    case StageSecondTrigger:
      BoardStepTrigger(SystemTable->BootServices, 2, FALSE);
      BoardLine("BOARD WAIT key=1");
      EnterStage(StageWaitFirstKey);
      break;
    case StageWaitFirstKey:
      if (BoardStepFirstPressLanded(SystemTable->RuntimeServices)) {
        mFirstKeySeen = TRUE;
      }
      if (mFirstKeySeen || mTicksInStage >= Limit) {
        Presses = mKeyPresses;
        BoardStepFirstKeyResult(mFirstKeySeen, mTicksInStage * (1000 / kTicksPerSecond), &Presses);
        EnterStage(StageSettleFirstKey);
      }
      break;
    case StageSettleFirstKey:
      if (mTicksInStage >= kSettleTicks) {
        BoardStepResetAndDisarm(SystemTable);
        mKeyPressesAtDisarm = mKeyPresses;
        BoardLine("BOARD WAIT key=2");
        EnterStage(StageWaitSecondKey);
      }
      break;
    case StageWaitSecondKey:
      if (mKeyPresses != mKeyPressesAtDisarm || mTicksInStage >= Limit) {
        BoardStepSecondKeyResult(mKeyPresses != mKeyPressesAtDisarm, &mLastKey);
        EnterStage(StageSettleSecondKey);
      }
      break;
    case StageSettleSecondKey:
      if (mTicksInStage >= kSettleTicks) {
        EnterStage(StageDone);
        SystemTable->BootServices->SetTimer(mTickEvent, TimerCancel, 0);
        // The SSVS handler's count of Hotlatch's writes, then hostile packets (SMM build only).
        SsvsProbeRun(SystemTable);
        BoardStepFinish(SystemTable, &mBridges, mScenario.Roster, mScenario.Hotlatch, mScenario.ImageHandle,
                        "BoardDxe.efi");
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
  BoardStepRootBridges(BootServices, &mBridges);
  BoardStepTrigger(BootServices, 1, FALSE);
  EFI_STATUS Status = BootServices->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Tick, NULL, &mTickEvent);
  if (!EFI_ERROR(Status)) {
    Status = BootServices->SetTimer(mTickEvent, TimerPeriodic, kTickPeriod);
  }
  BoardStatusLine("BOARD TIMER", Status);
  EnterStage(StageSecondTrigger);
}
