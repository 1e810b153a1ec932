// A variable write handed to the SMM variable handler through the software SMI.
#include <VariableRequestLayout.h>
#include <Arch.h>

#include "DxeVariableLibInternal.h"

EFI_STATUS SmmVariableSetVariable(CONST CHAR16 *Name, CONST EFI_GUID *VendorGuid, UINT32 Attributes, UINTN DataSize,
                                  VOID *Data) {
  UINTN NameSize;
  UINTN RequestSize;
  UINTN PacketSize;
  VOID *Request;
  VOID *Packet;
  EFI_STATUS Status;

  if (Name == NULL || VendorGuid == NULL || (Attributes & EFI_VARIABLE_APPEND_WRITE) != 0 ||
      (DataSize != 0 && Data == NULL)) {
    return EFI_INVALID_PARAMETER;
  }

  NameSize = StrSize(Name);
  RequestSize = 0;
  PacketSize = 0;
  if (!VariableRequestSizes(NameSize, DataSize, &RequestSize, &PacketSize)) {
    return EFI_INVALID_PARAMETER;
  }

  // Runtime-services data, not boot-services pool: once SMM is locked, a software-SMI handler
  // on a platform with SMM memory protection can read only runtime, ACPI NVS and reserved
  // memory, and the hot key writes after the lock.
  Request = AllocateRuntimePool(RequestSize);
  if (Request == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }
  BuildVariableRequest(Request, Name, NameSize, VendorGuid, Attributes, DataSize, Data);

  Packet = AllocateRuntimePool(PacketSize);
  if (Packet == NULL) {
    FreePool(Request);
    return EFI_OUT_OF_RESOURCES;
  }
  BuildSmiVariablePacket(Packet, PacketSize, Request, RequestSize);

  // The handler runs before the port write completes and leaves its answer in the packet.
  ArchSoftwareSmi(SMI_VARIABLE_COMMAND_PORT, SMI_VARIABLE_COMMAND_VALUE, SMI_VARIABLE_SERVICE_AH, PacketSize,
                  (UINT64)(UINTN)Packet);
  Status = ReadUnaligned64((UINT8 *)Packet + OFFSET_OF(SMI_VARIABLE_PACKET_HEADER, Status));

  FreePool(Packet);
  FreePool(Request);
  return Status;
}
