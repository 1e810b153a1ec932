#include "FinalReport.h"
#include "BmcRecorder.h"
#include "BoardOutput.h"
#include "Measurements.h"
#include "PlatformPeers.h"
#include "StatusCodeCapture.h"

VOID ReportAndPowerOff(EFI_SYSTEM_TABLE *SystemTable, CONST BOARD_ROOT_BRIDGES *Bridges, EFI_HANDLE Roster,
                       EFI_HANDLE Hotlatch, EFI_HANDLE Reporter, CONST CHAR8 *ReporterName) {
  ReportMeasurements(SystemTable->BootServices, Bridges, Roster, Hotlatch, Reporter, ReporterName);
  // Capture stops first, so the report's own status codes are not part of what it reports.
  StatusCodeCaptureStop();
  BmcRecorderReport();
  TeskRecorderReport();
  StatusCodeCaptureReport();
  BoardLine("BOARD COMPLETE");
  SystemTable->RuntimeServices->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, NULL);
}
