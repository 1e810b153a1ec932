// The board when an operating system boots on it instead of the report-and-power-off run:
// it lets the boot go on, and shows what the runtime phase does with Hotlatch on QEMU's
// debug console. Before boot services end it learns Hotlatch's hot-key function through a
// virtual keyboard and calls it once (the write must land); at SetVirtualAddressMap the Tesk
// service converts Hotlatch's registered pointers, and the board calls the function again:
// Hotlatch's variable library must refuse the write now that boot services have ended.
#pragma once
#include <Uefi.h>
#include "DispatchedImages.h"

// At the driver's start, before Hotlatch's: the virtual-address-change notification, which
// must run before Hotlatch's own so that Hotlatch is still at its physical addresses.
EFI_STATUS OsBootStart(EFI_SYSTEM_TABLE *SystemTable, DISPATCHED_IMAGE *Hotlatch);
// At ready-to-boot, right before the boot manager starts the OS loader.
VOID OsBootReadyToBoot(VOID);
