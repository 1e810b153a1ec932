// The board when an operating system boots on it instead of the report-and-power-off run:
// it lets the boot go on, and shows what the runtime phase does with Hotlatch on QEMU's
// debug console. Before boot services end it learns Hotlatch's hot-key function through a
// virtual keyboard and calls it once (the write must land); at ExitBootServices it calls the
// function again, and Hotlatch's variable library must refuse the write now; at
// SetVirtualAddressMap the Tesk service converts Hotlatch's registered pointers.
#pragma once
#include <Uefi.h>
#include "DispatchedImages.h"

// At the driver's start, before Hotlatch's: the exit-boot-services and virtual-address-change
// notifications; the first must run after Hotlatch's own.
EFI_STATUS OsBootStart(EFI_SYSTEM_TABLE *SystemTable, DISPATCHED_IMAGE *Hotlatch);
// At ready-to-boot, right before the boot manager starts the OS loader.
VOID OsBootReadyToBoot(VOID);
