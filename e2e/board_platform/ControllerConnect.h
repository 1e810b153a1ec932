// Device connection the boot manager leaves undone: OVMF connects only boot devices,
// so the drives behind the AHCI controllers have no Disk Info until someone asks.
#pragma once
#include <Uefi.h>

// ConnectController(h, NULL, NULL, TRUE) on every PCI I/O handle; returns how many.
UINTN ConnectAllPciControllers(EFI_BOOT_SERVICES *BootServices);
// Disconnects and reconnects every keyboard whose device path names a PS/2 keyboard
// (ACPI PNP0303), so a new Simple Text Input Ex instance is installed; returns how many.
UINTN RenewPs2Keyboards(EFI_BOOT_SERVICES *BootServices);
