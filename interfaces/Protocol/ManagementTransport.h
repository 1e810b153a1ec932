// The BMC management transport: IPMI-style requests with a 16-bit command header
// (byte 0: network function in bits 7..2, LUN in bits 1..0; byte 1: command).
#pragma once
#include <SystemTable.h>

inline constexpr EFI_GUID gManagementTransportProtocolGuid = {
    0xBB46188C, 0x7157, 0x4FEC, {0xA1, 0xD8, 0xC0, 0xBB, 0xFC, 0xE0, 0x3B, 0xC7}};

struct MANAGEMENT_TRANSPORT_PROTOCOL;

// Requests of at most 255 bytes: the request length is 8 bits wide.
typedef EFI_STATUS(EFIAPI *MANAGEMENT_TRANSPORT_SEND_COMMAND)(MANAGEMENT_TRANSPORT_PROTOCOL *This, UINT16 CommandHeader,
                                                              VOID *Request, UINT8 RequestLength, VOID *Response,
                                                              UINT8 *ResponseLength, VOID *Reserved);
// Requests of any size: the request length is full width.
typedef EFI_STATUS(EFIAPI *MANAGEMENT_TRANSPORT_SEND_LARGE_COMMAND)(MANAGEMENT_TRANSPORT_PROTOCOL *This,
                                                                    UINT16 CommandHeader, VOID *Request,
                                                                    UINTN RequestLength, VOID *Response,
                                                                    UINT8 *ResponseLength, VOID *Reserved);

struct MANAGEMENT_TRANSPORT_PROTOCOL {
  MANAGEMENT_TRANSPORT_SEND_COMMAND SendCommand;
  MANAGEMENT_TRANSPORT_SEND_LARGE_COMMAND SendLargeCommand;
};
static_assert(OFFSET_OF(MANAGEMENT_TRANSPORT_PROTOCOL, SendLargeCommand) == 8, "transport layout");
EFI_PROTOCOL_GUID(MANAGEMENT_TRANSPORT_PROTOCOL, gManagementTransportProtocolGuid);
