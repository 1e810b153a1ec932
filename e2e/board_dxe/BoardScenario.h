// What the board does once the boot manager is ready to boot: the inventory trigger (twice:
// the second installation must not take a second inventory), the first Ctrl+Alt+d, the
// options reset and the disarm, the second press, then the whole report and power-off.
// It runs on a 100 ms timer at TPL_CALLBACK, so the boot manager and its screen go on
// underneath as they would on a real board; the steps themselves are BoardSteps.h's.
#pragma once
#include <Uefi.h>

struct BOARD_SCENARIO {
  EFI_SYSTEM_TABLE *SystemTable;
  // The reporter's own image, named in the loaded-image report.
  EFI_HANDLE ImageHandle;
  EFI_HANDLE Roster;
  EFI_HANDLE Hotlatch;
  // How long each key wait lasts at most.
  UINT32 KeyWaitSeconds;
};

VOID BoardScenarioStart(CONST BOARD_SCENARIO *Scenario);
