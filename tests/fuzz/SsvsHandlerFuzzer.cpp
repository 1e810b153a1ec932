// The SSVS handler's checks on any bytes and any registers: where a packet may lie, the
// capture into the MMRAM copy and the request decoding. Whatever the caller does, an accepted
// request must describe exactly the bytes of its packet (name terminated where the data
// starts, data ending with the packet), and a refused one must leave the copy unread when the
// bounds were wrong.
//
// Input: byte 0 picks how RBX relates to the packet and where MMRAM lies, bytes 1..2 a size
// offset, byte 3 an MMRAM offset, the rest is the packet.
#include <Uefi.h>
#include <VariableRequestLayout.h>
#include <ssvshandler/SsvsPacket.h>

#include <cstring>
#include <vector>

#include "FuzzInput.h"

namespace {
UINT64 gCopyWords[SSVS_MAX_PACKET_SIZE / 8];
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 4 || Size - 4 > SSVS_MAX_PACKET_SIZE + 64) {
    return 0;
  }
  const UINT8 Mode = Data[0];
  INT16 Delta;
  std::memcpy(&Delta, Data + 1, sizeof(Delta));
  const UINT8 SmramPick = Data[3];
  const size_t PacketBytes = Size - 4;

  // Mostly RBX is the packet's length; sometimes off by the input's delta.
  INT64 Rbx = (INT64)PacketBytes;
  if ((Mode & 0x3) == 0) {
    Rbx += Delta;
  }
  if (Rbx < 0) {
    Rbx = 0;
  }
  // The source holds every byte a capture of RBX bytes may read, zero beyond the input.
  std::vector<UINT64> Source((std::max<size_t>(PacketBytes, (size_t)Rbx) + 7) / 8 + 1, 0);
  std::memcpy(Source.data(), Data + 4, PacketBytes);
  const UINT8 *SourceBytes = reinterpret_cast<const UINT8 *>(Source.data());
  const UINT64 Address = reinterpret_cast<uintptr_t>(SourceBytes);

  // MMRAM far away, or laid over the packet at an offset the input picks.
  SSVS_MEMORY_RANGE Smram = {0x1000, 0x1000};
  if ((Mode & 0x4) != 0) {
    Smram.Base = Address + (UINT64)SmramPick * 4 - 0x200;
    Smram.Size = 1 + ((Mode >> 3) & 0x1F) * 8;
  }

  UINT8 *Copy = reinterpret_cast<UINT8 *>(gCopyWords);
  std::memset(Copy, 0xA5, 64);
  EFI_STATUS Status = SsvsCapturePacket(Address, (UINT64)Rbx, &Smram, 1, Copy, SSVS_MAX_PACKET_SIZE);
  const BOOLEAN Overlaps = SsvsRangeOverlaps(Address, (UINT64)Rbx, &Smram, 1);
  if (Status == EFI_ACCESS_DENIED) {
    FUZZ_CHECK(Overlaps);
  }
  if (Status != EFI_SUCCESS) {
    FUZZ_CHECK(Status == EFI_ACCESS_DENIED || Status == EFI_INVALID_PARAMETER);
    // Refused on its bounds: not a byte was copied.
    if (Overlaps || Rbx > SSVS_MAX_PACKET_SIZE || Rbx < 50) {
      for (size_t Index = 0; Index < 64; Index++) {
        FUZZ_CHECK(Copy[Index] == 0xA5);
      }
    }
    return 0;
  }
  FUZZ_CHECK(!Overlaps);
  FUZZ_CHECK(Rbx >= 50 && Rbx <= SSVS_MAX_PACKET_SIZE);
  FUZZ_CHECK(std::memcmp(Copy, SourceBytes, (size_t)Rbx) == 0);
  if (SsvsStatusWritable(Address, (UINT64)Rbx, &Smram, 1)) {
    FUZZ_CHECK(!SsvsRangeOverlaps(Address + 8, 8, &Smram, 1));
  }

  SSVS_VARIABLE_WRITE Write{};
  Status = SsvsParsePacket(Copy, (UINTN)Rbx, &Write);
  if (Status != EFI_SUCCESS) {
    FUZZ_CHECK(Status == EFI_INVALID_PARAMETER || Status == EFI_UNSUPPORTED);
    FUZZ_CHECK(Write.Name == nullptr);
    return 0;
  }
  VARIABLE_REQUEST_HEADER Header;
  std::memcpy(&Header, Copy + SMI_VARIABLE_PACKET_REQUEST_OFFSET, sizeof(Header));
  FUZZ_CHECK(Header.Function == VARIABLE_REQUEST_SET_VARIABLE && Header.Marker == VARIABLE_REQUEST_MARKER);
  FUZZ_CHECK((Write.Attributes & EFI_VARIABLE_APPEND_WRITE) == 0);
  const UINT8 *Name = reinterpret_cast<const UINT8 *>(Write.Name);
  FUZZ_CHECK(Name == Copy + SMI_VARIABLE_PACKET_REQUEST_OFFSET + VARIABLE_REQUEST_NAME_OFFSET);
  FUZZ_CHECK(Write.NameSize >= 4 && Write.NameSize % 2 == 0);
  FUZZ_CHECK(Write.Data == Name + Write.NameSize);
  FUZZ_CHECK(Write.Data + Write.DataSize == Copy + Rbx);
  for (size_t Index = 0; Index + 1 < Write.NameSize / 2; Index++) {
    FUZZ_CHECK(Write.Name[Index] != 0);
  }
  FUZZ_CHECK(Write.Name[Write.NameSize / 2 - 1] == 0);
  return 0;
}
