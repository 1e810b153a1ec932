// Module state of the variable library, shared by its files.
#pragma once
#include <Uefi.h>
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

#include "DxeVariableLib.h"

extern EFI_RUNTIME_SERVICES *mVariableRuntimeServices;
extern BOOLEAN mVariableBootServicesExited;
extern EFI_EVENT mVariableExitBootServicesEvent;

// Builds the whole "SSVS" packet (header, request, name, data) into Packet, whose size
// PacketSize came from VariableRequestSizes for the same name and data.
VOID BuildSmiVariablePacket(VOID *Packet, UINTN PacketSize, CONST VOID *Request, UINTN RequestSize);
VOID BuildVariableRequest(VOID *Request, CONST CHAR16 *Name, UINTN NameSize, CONST EFI_GUID *VendorGuid,
                          UINT32 Attributes, UINTN DataSize, CONST VOID *Data);

EFI_STATUS SmmVariableSetVariable(CONST CHAR16 *Name, CONST EFI_GUID *VendorGuid, UINT32 Attributes, UINTN DataSize,
                                  VOID *Data);
