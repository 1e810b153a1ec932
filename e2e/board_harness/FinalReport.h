// The end of a board run, the same whoever plays the platform: measurements, everything the
// recorders kept, the completion line the host runner waits for, then power-off.
#pragma once
#include <Uefi.h>
#include "RootBridges.h"

VOID ReportAndPowerOff(EFI_SYSTEM_TABLE *SystemTable, CONST BOARD_ROOT_BRIDGES *Bridges, EFI_HANDLE Roster,
                       EFI_HANDLE Hotlatch, EFI_HANDLE Reporter, CONST CHAR8 *ReporterName);
