// Variable writes for a runtime driver: through the SMM variable handler when the platform
// has one, else through the runtime services this library keeps its own pointer to.
#pragma once
#include <Uefi.h>

// EFI_UNSUPPORTED once boot services have ended. On the SMM path the arguments are checked
// (name, GUID, no append write, data when DataSize is not 0) and a size that cannot be
// described by the packet is EFI_INVALID_PARAMETER; the status is the handler's.
EFI_STATUS VarLibSetVariable(CONST CHAR16 *Name, CONST EFI_GUID *VendorGuid, UINT32 Attributes, UINTN DataSize,
                             VOID *Data);

EFI_STATUS DxeVariableLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS DxeVariableLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
