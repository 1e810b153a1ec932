// The numbers the board run reports beside its checks: TSC readings, the bare cost of
// 65,536 vendor-ID reads, and the size of every loaded image.
#pragma once
#include <Uefi.h>

UINT64 ReadTsc(VOID);
// TSC ticks in 100 ms of Stall, so the runner can turn ticks into time.
UINT64 MeasureTscPer100Ms(EFI_BOOT_SERVICES *BootServices);
// One 16-bit vendor-ID read for every bus, device and function through the root
// bridge's Pci.Read; returns the ticks, or 0 when there is no root bridge. *Present
// counts the functions that answered.
UINT64 MeasureBareVendorScan(EFI_BOOT_SERVICES *BootServices, UINTN *Present);
// "BOARD LOADED size=.. codetype=.. base=.. ours=<name>|-" for every loaded image; the
// reporter's own image is named ReporterName.
VOID ReportLoadedImages(EFI_BOOT_SERVICES *BootServices, EFI_HANDLE Roster, EFI_HANDLE Hotlatch, EFI_HANDLE Reporter, CONST CHAR8 *ReporterName);
// The TSC rate, the bare scan and the loaded images, as one block of the report.
VOID ReportMeasurements(EFI_BOOT_SERVICES *BootServices, EFI_HANDLE Roster, EFI_HANDLE Hotlatch, EFI_HANDLE Reporter, CONST CHAR8 *ReporterName);
