// A keyboard with no keys of its own, as a management controller's virtual console gives a
// board: the console splitter adopts it and hands it every key notification registered on
// the console input, so the board learns which function each driver asked to be called
// with which key, and can call it as a keyboard would.
#pragma once
#include <Uefi.h>
#include <Protocol/SimpleTextInputEx.h>

// Installs the keyboard on a handle of its own and has the console splitter adopt it.
EFI_STATUS VirtualKeyboardInstall(EFI_BOOT_SERVICES *BootServices);
// How many notifications the keyboard holds now.
UINTN VirtualKeyboardNotifyCount(VOID);
// The notification registered for exactly Key (character and shift state) whose function
// lies in [Base, Base + Size), or NULL.
EFI_KEY_NOTIFY_FUNCTION VirtualKeyboardFindNotify(CONST EFI_KEY_DATA *Key, UINT64 Base, UINT64 Size);
