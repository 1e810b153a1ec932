/** @file
  Management transport to the board management controller, produced by the platform.
  Requests carry a 16-bit command header: byte 0 is the network function in bits 7..2
  and the LUN in bits 1..0, byte 1 the command. Roster sends the inventory image through
  SendLargeCommand (header 0x5AC8) and each 65-byte SATA_INFO through SendCommand
  (header 0xA7E8).
**/

#ifndef ROSTER_HOTLATCH_MANAGEMENT_TRANSPORT_H_
#define ROSTER_HOTLATCH_MANAGEMENT_TRANSPORT_H_

#define MANAGEMENT_TRANSPORT_PROTOCOL_GUID \
  { 0xBB46188C, 0x7157, 0x4FEC, { 0xA1, 0xD8, 0xC0, 0xBB, 0xFC, 0xE0, 0x3B, 0xC7 } }

typedef struct _MANAGEMENT_TRANSPORT_PROTOCOL MANAGEMENT_TRANSPORT_PROTOCOL;

/**
  Sends a request of at most 255 bytes.
**/
typedef
EFI_STATUS
(EFIAPI *MANAGEMENT_TRANSPORT_SEND_COMMAND)(
  IN     MANAGEMENT_TRANSPORT_PROTOCOL  *This,
  IN     UINT16                         CommandHeader,
  IN     VOID                           *Request,
  IN     UINT8                          RequestLength,
  OUT    VOID                           *Response,
  IN OUT UINT8                          *ResponseLength,
  IN     VOID                           *Reserved
  );

/**
  Sends a request of any length.
**/
typedef
EFI_STATUS
(EFIAPI *MANAGEMENT_TRANSPORT_SEND_LARGE_COMMAND)(
  IN     MANAGEMENT_TRANSPORT_PROTOCOL  *This,
  IN     UINT16                         CommandHeader,
  IN     VOID                           *Request,
  IN     UINTN                          RequestLength,
  OUT    VOID                           *Response,
  IN OUT UINT8                          *ResponseLength,
  IN     VOID                           *Reserved
  );

struct _MANAGEMENT_TRANSPORT_PROTOCOL {
  MANAGEMENT_TRANSPORT_SEND_COMMAND          SendCommand;
  MANAGEMENT_TRANSPORT_SEND_LARGE_COMMAND    SendLargeCommand;
};

extern EFI_GUID  gManagementTransportProtocolGuid;

#endif
