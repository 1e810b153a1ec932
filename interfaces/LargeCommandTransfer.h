// How a management transport over a message-size-limited system interface (KCS, at most
// about 255 bytes a message) moves one large command to the BMC: a session the BMC opens,
// in-order writes at offsets each with its own CRC-16, and a commit that checks the whole
// transfer before the BMC acts on it. The transport on the host and the BMC's receiving
// module read the bytes through these definitions only.
//
// Every transfer message is an IPMI request with the large command's own network function
// and command; the first request byte names the step. All multi-byte fields are
// little-endian. Responses start with the IPMI completion code.
//
// A large command that fits one message may instead go as one plain request under the same
// network function and command, but only when its first byte names no step (0x01..0x04):
// a BMC reads a request whose first byte is a step as a transfer message, any other as the
// whole large command.
//
//   OPEN    request  Step, Reserved, TargetHeader, TotalLength
//           response CompletionCode, SessionId
//   WRITE   request  Step, Reserved, SessionId, Offset, Crc16, then the chunk's bytes
//           response CompletionCode
//   COMMIT  request  Step, Reserved, SessionId, Crc32 (over all TotalLength bytes)
//           response CompletionCode, then the large command's own response bytes
//   ABORT   request  Step, Reserved, SessionId
//           response CompletionCode
//
// Rules the BMC enforces: a session id is chosen by the BMC, never 0, and differs from the
// ids it handed out before (and, with high probability, from those of an earlier run of
// the BMC); one session is open at a time and an OPEN discards any earlier one; a WRITE
// must name the open session, carry at least one byte, start exactly where the bytes
// received so far end (a repeat of the last accepted WRITE, same offset and bytes, is
// answered with success and changes nothing, so a host that lost a response may resend)
// and stay within TotalLength; COMMIT needs every byte and a matching CRC-32, and ends the
// session whatever its outcome. What the BMC acts on is exactly TargetHeader and the
// TotalLength bytes.
#pragma once
#include <Base.h>

#define LARGE_COMMAND_STEP_OPEN 0x01
#define LARGE_COMMAND_STEP_WRITE 0x02
#define LARGE_COMMAND_STEP_COMMIT 0x03
#define LARGE_COMMAND_STEP_ABORT 0x04

// Chunk payload per WRITE: with the 10-byte WRITE header and the 2-byte IPMI header the
// message stays well inside the 255 bytes both QEMU's KCS model and ipmi_sim accept.
#define LARGE_COMMAND_MAX_CHUNK 224U

// IPMI completion codes the transfer uses.
#define IPMI_CC_SUCCESS 0x00
#define IPMI_CC_NODE_BUSY 0xC0
#define IPMI_CC_INVALID_COMMAND 0xC1
#define IPMI_CC_OUT_OF_SPACE 0xC4
#define IPMI_CC_REQUEST_DATA_LENGTH_INVALID 0xC7
#define IPMI_CC_REQUEST_DATA_TOO_LONG 0xC8
#define IPMI_CC_INVALID_DATA_FIELD 0xCC
#define IPMI_CC_NOT_SUPPORTED_IN_PRESENT_STATE 0xD5
#define IPMI_CC_UNSPECIFIED_ERROR 0xFF

#pragma pack(push, 1)

struct LARGE_COMMAND_OPEN_REQUEST {
  UINT8 Step;
  UINT8 Reserved;
  UINT16 TargetHeader;  // the large command's header: network function and LUN, command
  UINT32 TotalLength;
};

struct LARGE_COMMAND_OPEN_RESPONSE {
  UINT8 CompletionCode;
  UINT16 SessionId;
};

// Followed by the chunk's bytes.
struct LARGE_COMMAND_WRITE_REQUEST {
  UINT8 Step;
  UINT8 Reserved;
  UINT16 SessionId;
  UINT32 Offset;
  UINT16 Crc16;  // CRC-16/CCITT-FALSE over the chunk's bytes
};

struct LARGE_COMMAND_COMMIT_REQUEST {
  UINT8 Step;
  UINT8 Reserved;
  UINT16 SessionId;
  UINT32 Crc32;  // the IEEE CRC-32 (as UEFI's CalculateCrc32) over all TotalLength bytes
};

struct LARGE_COMMAND_ABORT_REQUEST {
  UINT8 Step;
  UINT8 Reserved;
  UINT16 SessionId;
};

#pragma pack(pop)

static_assert(sizeof(LARGE_COMMAND_OPEN_REQUEST) == 8, "large command OPEN layout");
static_assert(OFFSET_OF(LARGE_COMMAND_OPEN_REQUEST, TargetHeader) == 2, "large command OPEN layout");
static_assert(OFFSET_OF(LARGE_COMMAND_OPEN_REQUEST, TotalLength) == 4, "large command OPEN layout");
static_assert(sizeof(LARGE_COMMAND_OPEN_RESPONSE) == 3, "large command OPEN response layout");
static_assert(OFFSET_OF(LARGE_COMMAND_OPEN_RESPONSE, SessionId) == 1, "large command OPEN response layout");
static_assert(sizeof(LARGE_COMMAND_WRITE_REQUEST) == 10, "large command WRITE layout");
static_assert(OFFSET_OF(LARGE_COMMAND_WRITE_REQUEST, SessionId) == 2, "large command WRITE layout");
static_assert(OFFSET_OF(LARGE_COMMAND_WRITE_REQUEST, Offset) == 4, "large command WRITE layout");
static_assert(OFFSET_OF(LARGE_COMMAND_WRITE_REQUEST, Crc16) == 8, "large command WRITE layout");
static_assert(sizeof(LARGE_COMMAND_COMMIT_REQUEST) == 8, "large command COMMIT layout");
static_assert(OFFSET_OF(LARGE_COMMAND_COMMIT_REQUEST, Crc32) == 4, "large command COMMIT layout");
static_assert(sizeof(LARGE_COMMAND_ABORT_REQUEST) == 4, "large command ABORT layout");
static_assert(2 + sizeof(LARGE_COMMAND_WRITE_REQUEST) + LARGE_COMMAND_MAX_CHUNK <= 255, "a WRITE fits one message");
