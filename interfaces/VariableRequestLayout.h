// The variable write handed to the SMM variable handler: a variable request wrapped in an
// "SSVS" packet, raised with a software SMI. Both sides of that port (the driver and the
// handler that answers it) read the bytes through these definitions only.
#pragma once
#include <Base.h>
#include <Guid.h>

// The software-SMI doorbell: one byte to the command port, with AH naming the service,
// RBX the packet size and RSI the packet address.
#define SMI_VARIABLE_COMMAND_PORT 0x00B2
#define SMI_VARIABLE_COMMAND_VALUE 0xEC
#define SMI_VARIABLE_SERVICE_AH 0x21

#define SMI_VARIABLE_PACKET_SIGNATURE 0x53565353U  // "SSVS"
#define VARIABLE_REQUEST_SET_VARIABLE 6U
#define VARIABLE_REQUEST_MARKER 1U

#pragma pack(push, 1)

// Followed by the UTF-16 name with its terminator, then DataSize bytes of data.
struct VARIABLE_REQUEST_HEADER {
  UINT32 Function;
  UINT16 Marker;
  UINT32 Attributes;
  UINT32 DataSize;  // low 32 bits of the caller's size
  EFI_GUID VendorGuid;
};

// Followed by the variable request.
struct SMI_VARIABLE_PACKET_HEADER {
  UINT32 Signature;
  UINT32 PacketSize;  // header and request together
  UINT64 Status;  // preset by the driver, replaced by the handler
};

#pragma pack(pop)

static_assert(sizeof(VARIABLE_REQUEST_HEADER) == 30, "variable request layout");
static_assert(OFFSET_OF(VARIABLE_REQUEST_HEADER, Function) == 0, "variable request layout");
static_assert(OFFSET_OF(VARIABLE_REQUEST_HEADER, Marker) == 4, "variable request layout");
static_assert(OFFSET_OF(VARIABLE_REQUEST_HEADER, Attributes) == 6, "variable request layout");
static_assert(OFFSET_OF(VARIABLE_REQUEST_HEADER, DataSize) == 10, "variable request layout");
static_assert(OFFSET_OF(VARIABLE_REQUEST_HEADER, VendorGuid) == 14, "variable request layout");

static_assert(sizeof(SMI_VARIABLE_PACKET_HEADER) == 16, "SSVS packet layout");
static_assert(OFFSET_OF(SMI_VARIABLE_PACKET_HEADER, Signature) == 0, "SSVS packet layout");
static_assert(OFFSET_OF(SMI_VARIABLE_PACKET_HEADER, PacketSize) == 4, "SSVS packet layout");
static_assert(OFFSET_OF(SMI_VARIABLE_PACKET_HEADER, Status) == 8, "SSVS packet layout");

#define VARIABLE_REQUEST_NAME_OFFSET ((UINTN)sizeof(VARIABLE_REQUEST_HEADER))
#define SMI_VARIABLE_PACKET_REQUEST_OFFSET ((UINTN)sizeof(SMI_VARIABLE_PACKET_HEADER))

// Sizes of the request and its packet for a name of NameSize bytes (terminator included)
// and DataSize bytes of data. FALSE when the packet would not fit its 32-bit size field,
// which also keeps every intermediate sum and the request's 32-bit DataSize exact.
constexpr BOOLEAN VariableRequestSizes(UINTN NameSize, UINTN DataSize, UINTN *RequestSize, UINTN *PacketSize) {
  constexpr UINTN Fixed = sizeof(VARIABLE_REQUEST_HEADER) + sizeof(SMI_VARIABLE_PACKET_HEADER);
  if (NameSize > MAX_UINT32 || DataSize > MAX_UINT32 || NameSize + DataSize > MAX_UINT32 - Fixed) {
    return FALSE;
  }
  *RequestSize = sizeof(VARIABLE_REQUEST_HEADER) + NameSize + DataSize;
  *PacketSize = *RequestSize + sizeof(SMI_VARIABLE_PACKET_HEADER);
  return TRUE;
}
