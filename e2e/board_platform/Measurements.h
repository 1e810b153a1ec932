// The numbers the board run reports beside its checks: TSC readings, the bare cost of
// 65,536 vendor-ID reads, and the size of every loaded image.
#pragma once
#include <Uefi.h>
#include "RootBridges.h"

UINT64 ReadTsc(VOID);
// TSC ticks in 100 ms of Stall, so the runner can turn ticks into time.
UINT64 MeasureTscPer100Ms(EFI_BOOT_SERVICES *BootServices);
// One 16-bit vendor-ID read for every bus, device and function through the Pci.Read of a
// root bridge that accepts reads of the bus (found before the clock starts); returns the
// ticks, or 0 when no read was made. *Present counts the functions that answered, *Reads
// the reads (65,536 unless some bus has no root bridge at all).
UINT64 MeasureBareVendorScan(CONST BOARD_ROOT_BRIDGES *Bridges, UINTN *Present, UINTN *Reads);
// "BOARD LOADED size=.. codetype=.. base=.. ours=<name>|-" for every loaded image; the
// reporter's own image is named ReporterName.
VOID ReportLoadedImages(EFI_BOOT_SERVICES *BootServices, EFI_HANDLE Roster, EFI_HANDLE Hotlatch, EFI_HANDLE Reporter,
                        CONST CHAR8 *ReporterName);
// The TSC rate, the bare scan and the loaded images, as one block of the report.
VOID ReportMeasurements(EFI_BOOT_SERVICES *BootServices, CONST BOARD_ROOT_BRIDGES *Bridges, EFI_HANDLE Roster,
                        EFI_HANDLE Hotlatch, EFI_HANDLE Reporter, CONST CHAR8 *ReporterName);
