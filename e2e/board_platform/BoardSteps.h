// The steps of a board run and the report lines they write, the same whoever plays the
// platform: the harness application runs them in sequence and stalls between them, the
// board driver from its events and a 100 ms timer. Each caller decides only when a step
// runs and how a key press is noticed; what a step does and says is written here once.
#pragma once
#include <Uefi.h>
#include <Protocol/SimpleTextInputEx.h>
#include "BoardConfig.h"
#include "RootBridges.h"

// "BOARD RUNTIME table=..": the runner checks Tesk registrations against this address.
VOID BoardStepRuntimeTable(EFI_SYSTEM_TABLE *SystemTable);
// "BOARD CAPTURE status=..": status codes are kept from here on.
VOID BoardStepStartCapture(EFI_BOOT_SERVICES *BootServices);
// "BOARD CONNECT pciio=..": every PCI controller connected, so the inventory sees them all.
VOID BoardStepConnect(EFI_BOOT_SERVICES *BootServices);
// "BOARD PEERS status=.. recorder=.. tesk=..": identity, Tesk service and, unless a
// platform driver carries it, the recording management transport.
VOID BoardStepInstallPeers(EFI_BOOT_SERVICES *BootServices, CONST BOARD_CONFIG *Config);
// What the root bridges say of their buses when the inventory runs.
VOID BoardStepRootBridges(EFI_BOOT_SERVICES *BootServices, BOARD_ROOT_BRIDGES *Bridges);
// "BOARD TRIGGER n=.. status=.. [ticks=..] records=..": the inventory trigger, installed
// once per call (a second installation must not take a second inventory). Timed adds the
// TSC ticks the installation took, which only a caller that runs the inventory inline has.
VOID BoardStepTrigger(EFI_BOOT_SERVICES *BootServices, UINTN Number, BOOLEAN Timed);
// "BOARD SETUPVARS status=..", then the variables as created.
VOID BoardStepCreateSetupVariables(EFI_SYSTEM_TABLE *SystemTable, CONST BOARD_CONFIG *Config);
// Whether the first press did its work: Hotlatch sets "Setup" byte 888 to 1.
BOOLEAN BoardStepFirstPressLanded(EFI_RUNTIME_SERVICES *RuntimeServices);
// "BOARD KEY n=1 seen=.. ms=.. [presses=..]"; Presses is NULL where keystrokes are not counted.
VOID BoardStepFirstKeyResult(BOOLEAN Seen, UINT64 Milliseconds, CONST UINTN *Presses);
// After the first press: the variables as the key left them, every option back to 0, and
// the disarm ("BOARD RESETOPTIONS", "BOARD DISARM").
VOID BoardStepResetAndDisarm(EFI_SYSTEM_TABLE *SystemTable);
// "BOARD KEY n=2 seen=.. unicode=.. shift=..": after the disarm nothing may change, so
// the keystroke itself marks the press.
VOID BoardStepSecondKeyResult(BOOLEAN Seen, CONST EFI_KEY_DATA *Key);
// The end of the run: the variables after the disarmed press, the measurements, everything
// the recorders kept, the completion line the host runner waits for, then power-off.
VOID BoardStepFinish(EFI_SYSTEM_TABLE *SystemTable, CONST BOARD_ROOT_BRIDGES *Bridges, EFI_HANDLE Roster,
                     EFI_HANDLE Hotlatch, EFI_HANDLE Reporter, CONST CHAR8 *ReporterName);
