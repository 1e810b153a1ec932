// The two channels between the board-support driver and the runner that need no console:
// QEMU's debug console (I/O port 0x402) for the report, and the fw_cfg interface for the
// board definition. Both go through the platform's CPU I/O 2 protocol.
#pragma once
#include <Uefi.h>

EFI_STATUS PortIoInit(EFI_BOOT_SERVICES *BootServices);
// A board-output sink: each character's low byte to the debug console.
VOID DebugConsoleWrite(CONST CHAR16 *Piece, UINTN Length);
// The same with the processor's own port writes, for the runtime phase: once boot services
// have ended no protocol may be called, and the debug console is a plain I/O port.
VOID DebugConsoleWriteDirect(CONST CHAR16 *Piece, UINTN Length);
// Copies the fw_cfg file Name (at most Capacity bytes) to Buffer; *Size is its full size.
// EFI_NOT_FOUND when QEMU was given no such file.
EFI_STATUS FwCfgReadFile(CONST CHAR8 *Name, VOID *Buffer, UINTN Capacity, UINTN *Size);
