// Byte images of the variable request and its "SSVS" packet; no firmware calls.
#include <VariableRequestLayout.h>

#include "DxeVariableLibInternal.h"

VOID BuildVariableRequest(VOID *Request, CONST CHAR16 *Name, UINTN NameSize, CONST EFI_GUID *VendorGuid,
                          UINT32 Attributes, UINTN DataSize, CONST VOID *Data) {
  VARIABLE_REQUEST_HEADER Header;
  UINT8 *Bytes;

  Header.Function = VARIABLE_REQUEST_SET_VARIABLE;
  Header.Marker = VARIABLE_REQUEST_MARKER;
  Header.Attributes = Attributes;
  Header.DataSize = (UINT32)DataSize;
  CopyGuid(&Header.VendorGuid, VendorGuid);

  Bytes = (UINT8 *)Request;
  CopyMem(Bytes, &Header, sizeof(Header));
  CopyMem(Bytes + VARIABLE_REQUEST_NAME_OFFSET, Name, NameSize);
  if (DataSize != 0) {
    CopyMem(Bytes + VARIABLE_REQUEST_NAME_OFFSET + NameSize, Data, DataSize);
  }
}

VOID BuildSmiVariablePacket(VOID *Packet, UINTN PacketSize, CONST VOID *Request, UINTN RequestSize) {
  SMI_VARIABLE_PACKET_HEADER Header;
  UINT8 *Bytes;

  Header.Signature = SMI_VARIABLE_PACKET_SIGNATURE;
  Header.PacketSize = (UINT32)PacketSize;
  // Left in place when no handler answers the SMI.
  Header.Status = EFI_UNSUPPORTED;

  Bytes = (UINT8 *)Packet;
  CopyMem(Bytes, &Header, sizeof(Header));
  CopyMem(Bytes + SMI_VARIABLE_PACKET_REQUEST_OFFSET, Request, RequestSize);
}
