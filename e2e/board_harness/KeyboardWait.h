// Waits for the host's key press, bounded. The drivers' key notification runs at
// TPL_CALLBACK before a keystroke reaches a reader at application level, so a key seen
// here has already been delivered to every notify registration.
#pragma once
#include <Uefi.h>

// Drains keys already buffered, so only a press after this call counts.
VOID DrainKeys(EFI_SYSTEM_TABLE *SystemTable);
// TRUE when a keystroke arrived within TimeoutSeconds; *Key holds it.
BOOLEAN WaitForKeystroke(EFI_SYSTEM_TABLE *SystemTable, UINT32 TimeoutSeconds, EFI_KEY_DATA *Key);
