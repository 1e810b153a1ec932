#include "BoardSteps.h"
#include <Protocol/DebugKeyDisarm.h>
#include <Protocol/InventoryTrigger.h>
#include "BmcRecorder.h"
#include "BoardOutput.h"
#include "ControllerConnect.h"
#include "Measurements.h"
#include "PlatformPeers.h"
#include "SetupVariables.h"
#include "StatusCodeCapture.h"

VOID BoardStepRuntimeTable(EFI_SYSTEM_TABLE *SystemTable) {
  BoardLineStart("BOARD RUNTIME");
  BoardAppendField("table", (UINT64)(UINTN)SystemTable->RuntimeServices);
  BoardLineEnd();
}

VOID BoardStepStartCapture(EFI_BOOT_SERVICES *BootServices) {
  BoardStatusLine("BOARD CAPTURE", StatusCodeCaptureStart(BootServices));
}

VOID BoardStepConnect(EFI_BOOT_SERVICES *BootServices) {
  BoardLineStart("BOARD CONNECT");
  BoardAppendField("pciio", ConnectAllPciControllers(BootServices));
  BoardLineEnd();
}

VOID BoardStepInstallPeers(EFI_BOOT_SERVICES *BootServices, CONST BOARD_CONFIG *Config) {
  BoardLineStart("BOARD PEERS");
  BoardAppendField("status", InstallPlatformPeers(BootServices, Config->IdentityWords,
                                                  Config->Transport == BOARD_TRANSPORT_RECORDER));
  BoardAppendField("recorder", Config->Transport == BOARD_TRANSPORT_RECORDER);
  BoardAppendField("tesk", (UINT64)(UINTN)TeskServiceInterface());
  BoardLineEnd();
}

VOID BoardStepRootBridges(EFI_BOOT_SERVICES *BootServices, BOARD_ROOT_BRIDGES *Bridges) {
  FindRootBridges(BootServices, Bridges);
  ReportRootBridges(Bridges);
}

VOID BoardStepTrigger(EFI_BOOT_SERVICES *BootServices, UINTN Number, BOOLEAN Timed) {
  UINT64 Before = ReadTsc();
  EFI_STATUS Status = InstallSignalProtocol(BootServices, &gInventoryTriggerProtocolGuid);
  UINT64 After = ReadTsc();
  BoardLineStart("BOARD TRIGGER");
  BoardAppendField("n", Number);
  BoardAppendField("status", Status);
  if (Timed) {
    BoardAppendField("ticks", After - Before);
  }
  BoardAppendField("records", StatusCodeCaptureCount());
  BoardLineEnd();
}

VOID BoardStepCreateSetupVariables(EFI_SYSTEM_TABLE *SystemTable, CONST BOARD_CONFIG *Config) {
  BoardStatusLine("BOARD SETUPVARS", CreateSetupVariables(SystemTable->RuntimeServices, Config));
  ReportSetupVariables(SystemTable, "created");
}

BOOLEAN BoardStepFirstPressLanded(EFI_RUNTIME_SERVICES *RuntimeServices) {
  UINT8 Option = 0;
  return ReadSetupDebugByte(RuntimeServices, &Option) && Option == 1;
}

VOID BoardStepFirstKeyResult(BOOLEAN Seen, UINT64 Milliseconds, CONST UINTN *Presses) {
  BoardLineStart("BOARD KEY n=1");
  BoardAppendField("seen", Seen);
  BoardAppendField("ms", Milliseconds);
  if (Presses != NULL) {
    BoardAppendField("presses", *Presses);
  }
  BoardLineEnd();
}

VOID BoardStepResetAndDisarm(EFI_SYSTEM_TABLE *SystemTable) {
  ReportSetupVariables(SystemTable, "key");
  BoardStatusLine("BOARD RESETOPTIONS", WriteAllOptions(SystemTable->RuntimeServices, 0));
  BoardStatusLine("BOARD DISARM", InstallSignalProtocol(SystemTable->BootServices, &gDebugKeyDisarmProtocolGuid));
}

VOID BoardStepSecondKeyResult(BOOLEAN Seen, CONST EFI_KEY_DATA *Key) {
  BoardLineStart("BOARD KEY n=2");
  BoardAppendField("seen", Seen);
  BoardAppendField("unicode", Key->Key.UnicodeChar);
  BoardAppendField("shift", Key->KeyState.KeyShiftState);
  BoardLineEnd();
}

VOID BoardStepFinish(EFI_SYSTEM_TABLE *SystemTable, CONST BOARD_ROOT_BRIDGES *Bridges, EFI_HANDLE Roster,
                     EFI_HANDLE Hotlatch, EFI_HANDLE Reporter, CONST CHAR8 *ReporterName) {
  ReportSetupVariables(SystemTable, "disarm");
  ReportMeasurements(SystemTable->BootServices, Bridges, Roster, Hotlatch, Reporter, ReporterName);
  // Capture stops first, so the report's own status codes are not part of what it reports.
  StatusCodeCaptureStop();
  BmcRecorderReport();
  TeskRecorderReport();
  StatusCodeCaptureReport();
  BoardLine("BOARD COMPLETE");
  SystemTable->RuntimeServices->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, NULL);
}
