// Private header of the debug hot-key driver: the key's lifecycle and the setup-option
// switch it triggers.
#pragma once
#include <Uefi.h>
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

#include <Guid/SetupVariables.h>
#include <Protocol/DebugKeyDisarm.h>

#include "DxeVariableLib/DxeVariableLib.h"
#include "SetupOptionLayout.h"

// --- Key lifecycle (module state lives as long as the image).
extern EFI_EVENT mSetupHotKeyEvent;
extern VOID *mSetupHotKeyRegistration;
extern EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *mSimpleTextInputEx;
extern VOID *mDebugKeyNotifyHandle;

// Start routine; its result is the disarm registration's status.
EFI_STATUS OemDebugEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
// Creates the arm event and registers it for keyboard installations; failures are logged.
VOID RegisterSetupHotKeyNotify(VOID);
// Undoes what the arm step left behind, so nothing calls into an image that is unloaded.
VOID WithdrawSetupHotKey(VOID);
VOID EFIAPI OemSetupHotKey(EFI_EVENT Event, VOID *Context);
VOID EFIAPI OemUnregisterKey(EFI_EVENT Event, VOID *Context);
// Every registration of this driver uses this one function: the disarm relies on it.
EFI_STATUS EFIAPI DebugKeyNotify(EFI_KEY_DATA *KeyData);
// Left-Ctrl + Left-Alt + d.
VOID BuildDebugKeyData(EFI_KEY_DATA *KeyData);

// --- Setup-option switch.
VOID SetupConfig(VOID);
VOID ChangeSetupDebugOption(VOID);
VOID PchHideOption(UINT8 Value);
VOID SocketProcConfig(UINT8 Value);
// Reads a fixed-size record whole; bytes the store does not hold read as zero.
EFI_STATUS ReadSetupRecord(CONST CHAR16 *Name, CONST EFI_GUID *VendorGuid, UINTN RecordSize, VOID *Buffer);
// Writes a fixed-size record whole with the setup attributes.
EFI_STATUS WriteSetupRecord(CONST CHAR16 *Name, CONST EFI_GUID *VendorGuid, UINTN RecordSize, VOID *Buffer);
