#include "LargeCommandReceiver.h"

#include <cstring>

#include "Crc16.h"
#include "crc32/Crc32.h"
#include <LargeCommandTransfer.h>

namespace RosterBmc {
namespace {

template <typename T>
T ReadRequest(ByteView Request) {
  T Value;
  std::memcpy(&Value, Request.data(), sizeof(T));
  return Value;
}

Bytes Answer(uint8_t CompletionCode) { return Bytes{CompletionCode}; }

}  // namespace

LargeCommandReceiver::LargeCommandReceiver(uint16_t TargetHeader, uint32_t MaxLength, uint16_t SessionSeed,
                                           Consumer Consume)
    : TargetHeader(TargetHeader), MaxLength(MaxLength), NextSession(SessionSeed), Consume(std::move(Consume)) {}

Bytes LargeCommandReceiver::Handle(ByteView Request) {
  if (Request.empty()) {
    return Answer(IPMI_CC_INVALID_DATA_FIELD);
  }
  switch (Request[0]) {
    case LARGE_COMMAND_STEP_OPEN:
      return HandleOpen(Request);
    case LARGE_COMMAND_STEP_WRITE:
      return HandleWrite(Request);
    case LARGE_COMMAND_STEP_COMMIT:
      return HandleCommit(Request);
    case LARGE_COMMAND_STEP_ABORT:
      return HandleAbort(Request);
    default:
      return Answer(IPMI_CC_INVALID_DATA_FIELD);
  }
}

void LargeCommandReceiver::Close() {
  Open = false;
  SessionId = 0;
  TotalLength = 0;
  Buffer.clear();
  Buffer.shrink_to_fit();
  HaveLastWrite = false;
}

Bytes LargeCommandReceiver::HandleOpen(ByteView Request) {
  if (Request.size() != sizeof(LARGE_COMMAND_OPEN_REQUEST)) {
    return Answer(IPMI_CC_INVALID_DATA_FIELD);
  }
  auto OpenRequest = ReadRequest<LARGE_COMMAND_OPEN_REQUEST>(Request);
  // A rejected OPEN leaves an open session alone: only a good one replaces it.
  if (OpenRequest.TargetHeader != TargetHeader || OpenRequest.TotalLength == 0) {
    return Answer(IPMI_CC_INVALID_DATA_FIELD);
  }
  if (OpenRequest.TotalLength > MaxLength) {
    return Answer(IPMI_CC_REQUEST_DATA_TOO_LONG);
  }
  Close();
  if (NextSession == 0) {
    NextSession = 1;
  }
  Open = true;
  SessionId = NextSession++;
  TotalLength = OpenRequest.TotalLength;
  Buffer.reserve(TotalLength);

  LARGE_COMMAND_OPEN_RESPONSE Response = {IPMI_CC_SUCCESS, SessionId};
  const auto *Raw = reinterpret_cast<const uint8_t *>(&Response);
  return Bytes(Raw, Raw + sizeof(Response));
}

Bytes LargeCommandReceiver::HandleWrite(ByteView Request) {
  if (Request.size() <= sizeof(LARGE_COMMAND_WRITE_REQUEST) ||
      Request.size() > sizeof(LARGE_COMMAND_WRITE_REQUEST) + LARGE_COMMAND_MAX_CHUNK) {
    return Answer(IPMI_CC_INVALID_DATA_FIELD);
  }
  auto Write = ReadRequest<LARGE_COMMAND_WRITE_REQUEST>(Request);
  ByteView Chunk = Request.subspan(sizeof(LARGE_COMMAND_WRITE_REQUEST));
  if (!NamesOpenSession(Write.SessionId) || Crc16CcittFalse(Chunk) != Write.Crc16) {
    return Answer(IPMI_CC_INVALID_DATA_FIELD);
  }
  // The host lost the answer to the last WRITE and sent it again: same place, same bytes.
  if (HaveLastWrite && Write.Offset == LastOffset && Chunk.size() == LastLength &&
      std::memcmp(Buffer.data() + LastOffset, Chunk.data(), Chunk.size()) == 0) {
    return Answer(IPMI_CC_SUCCESS);
  }
  if (Write.Offset != Buffer.size() || Chunk.size() > TotalLength - Buffer.size()) {
    return Answer(IPMI_CC_INVALID_DATA_FIELD);
  }
  HaveLastWrite = true;
  LastOffset = Write.Offset;
  LastLength = static_cast<uint32_t>(Chunk.size());
  Buffer.insert(Buffer.end(), Chunk.begin(), Chunk.end());
  return Answer(IPMI_CC_SUCCESS);
}

Bytes LargeCommandReceiver::HandleCommit(ByteView Request) {
  if (Request.size() != sizeof(LARGE_COMMAND_COMMIT_REQUEST)) {
    return Answer(IPMI_CC_INVALID_DATA_FIELD);
  }
  auto Commit = ReadRequest<LARGE_COMMAND_COMMIT_REQUEST>(Request);
  // A COMMIT for another session is not this session's end.
  if (!NamesOpenSession(Commit.SessionId)) {
    return Answer(IPMI_CC_INVALID_DATA_FIELD);
  }
  Bytes Data = std::move(Buffer);
  bool Complete = Data.size() == TotalLength;
  Close();
  if (!Complete || crc32::Crc32(Data.data(), Data.size()) != Commit.Crc32) {
    return Answer(IPMI_CC_INVALID_DATA_FIELD);
  }
  Bytes Response;
  uint8_t CompletionCode = Consume(Data, Response);
  Response.insert(Response.begin(), CompletionCode);
  return Response;
}

Bytes LargeCommandReceiver::HandleAbort(ByteView Request) {
  if (Request.size() != sizeof(LARGE_COMMAND_ABORT_REQUEST)) {
    return Answer(IPMI_CC_INVALID_DATA_FIELD);
  }
  auto Abort = ReadRequest<LARGE_COMMAND_ABORT_REQUEST>(Request);
  if (!NamesOpenSession(Abort.SessionId)) {
    return Answer(IPMI_CC_INVALID_DATA_FIELD);
  }
  Close();
  return Answer(IPMI_CC_SUCCESS);
}

}  // namespace RosterBmc
