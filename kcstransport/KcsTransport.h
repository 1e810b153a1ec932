// Private interface of the KCS management transport: the module state, the timing budgets
// and the routines its files share. The transport carries the management transport
// protocol's requests to the BMC over the IPMI KCS system interface; a large command goes
// in chunks as LargeCommandTransfer.h lays down.
#pragma once

#include <Uefi.h>
#include <IndustryStandard/IpmiKcs.h>
#include <IndustryStandard/SmBios.h>
#include <LargeCommandTransfer.h>
#include <Protocol/ManagementTransport.h>

// --- Time. Every wait polls the status register and stalls between polls, starting at
// KCS_POLL_FIRST_US and doubling up to KCS_POLL_MAX_US, so a BMC that takes a byte within
// microseconds costs microseconds and a long wait costs few polls. A wait is charged the
// stalls it asked for; the port reads come on top (about a microsecond each on hardware).
#define KCS_POLL_FIRST_US 1U
#define KCS_POLL_MAX_US 1024U
// One message (request out, response in) of a responsive interface, processing time of
// the BMC included.
#define KCS_MESSAGE_BUDGET_US 1000000U
// Once a message has timed out, the interface is taken for unresponsive: a call fails at
// once while the BMC still holds the input buffer full, and otherwise gets this budget,
// recovery included. The first message that completes restores the full budget. An
// inventory against a silent BMC thus costs one full budget and at most one short one per
// later message: 1 s + 20 ms + 42 x 20 ms for the image and 14 ports of 3 attempts.
#define KCS_UNRESPONSIVE_BUDGET_US 20000U
// The error exit after a failed message of a responsive interface.
#define KCS_RECOVERY_BUDGET_US 20000U
// GET_STATUS/ABORT rounds before the interface is given up for this message.
#define KCS_ABORT_ATTEMPTS 2U

// --- Message sizes. A request is network function and LUN, command, then data; the
// response adds the completion code. Both QEMU's KCS model and ipmi_sim accept 255 bytes.
#define KCS_MAX_REQUEST 255U
#define KCS_MAX_REQUEST_DATA (KCS_MAX_REQUEST - 2U)
// A longer response is no IPMI message: it is drained no further and the message fails.
#define KCS_MAX_RESPONSE 300U

// "Cannot return number of requested data bytes": a length fault like 0xC7 and 0xC8.
#define IPMI_CC_CANNOT_RETURN_REQUESTED_LENGTH 0xCA
// What an interface that stands in for a BMC which did not answer (QEMU's external BMC
// link, a satellite controller's bridge) gives back after its own wait.
#define IPMI_CC_TIMEOUT 0xC3

struct KCS_INTERFACE {
  UINT16 DataPort;
  UINT16 StatusPort;  // status on read, command on write
  BOOLEAN Located;  // the SMBIOS table has been read (it may appear after the driver starts)
  BOOLEAN Unresponsive;  // the last message timed out
  BOOLEAN Busy;  // a call is under way: a nested call would cut into its byte stream
};

// A message's time: the microseconds stalled so far and how many it may take.
struct KCS_CLOCK {
  UINT32 Spent;
  UINT32 Budget;
};

extern KCS_INTERFACE mKcs;

// --- Start.
EFI_STATUS KcsTransportStart(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// --- Where the interface is.
// The ports a type 38 structure names, reading no byte beyond its Length: FALSE for
// another interface, memory-mapped registers, a reserved spacing or ports out of range.
BOOLEAN KcsPortsFromSmbios(CONST SMBIOS_STRUCTURE *Record, UINT16 *DataPort, UINT16 *StatusPort);
// Settles Kcs's ports from the first usable type 38 structure, else the default ports.
VOID KcsLocateInterface(KCS_INTERFACE *Kcs);

// --- The KCS state machine.
// One message: Request (network function and LUN, command, data; 2 to KCS_MAX_REQUEST
// bytes) out, the response in, of which the first Capacity bytes land in Response.
// EFI_TIMEOUT: the BMC did not take or answer within the budget; EFI_DEVICE_ERROR: nothing
// at the ports, the interface went to its error state, or the response was overlong.
EFI_STATUS KcsTransact(KCS_INTERFACE *Kcs, CONST UINT8 *Request, UINTN RequestLength, UINT8 *Response, UINTN Capacity,
                       UINTN *ResponseLength);

// --- Requests.
// Sends Data under CommandHeader and leaves the completion code and response data in Reply.
// Succeeds when a response to this very request came back, whatever its completion code.
EFI_STATUS KcsSendRequest(UINT16 CommandHeader, CONST UINT8 *Data, UINTN DataLength, UINT8 *Reply, UINTN Capacity,
                          UINTN *ReplyLength);
EFI_STATUS KcsCompletionCodeStatus(UINT8 CompletionCode);
// Copies what fits of Reply into the caller's buffer and sets *ResponseLength to it.
VOID KcsCopyReply(CONST UINT8 *Reply, UINTN ReplyLength, VOID *Response, UINT8 *ResponseLength);
// A large command in chunks: OPEN, WRITEs, COMMIT.
EFI_STATUS KcsSendInChunks(UINT16 CommandHeader, CONST UINT8 *Request, UINTN RequestLength, VOID *Response,
                           UINT8 *ResponseLength);
// CRC-16/CCITT-FALSE: polynomial 0x1021, initial 0xFFFF, no reflection, no final XOR.
UINT16 KcsCrc16(CONST UINT8 *Data, UINTN Length);

// --- The protocol's members.
EFI_STATUS EFIAPI KcsSendCommand(MANAGEMENT_TRANSPORT_PROTOCOL *This, UINT16 CommandHeader, VOID *Request,
                                 UINT8 RequestLength, VOID *Response, UINT8 *ResponseLength, VOID *Reserved);
EFI_STATUS EFIAPI KcsSendLargeCommand(MANAGEMENT_TRANSPORT_PROTOCOL *This, UINT16 CommandHeader, VOID *Request,
                                      UINTN RequestLength, VOID *Response, UINT8 *ResponseLength, VOID *Reserved);
