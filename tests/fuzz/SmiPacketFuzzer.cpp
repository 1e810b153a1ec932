// The simulator's "SSVS" packet check, which stands for the SMM handler that trusts nothing
// the driver's buffer says: any bytes, any RBX. An accepted packet must agree with itself:
// its size is RBX and the buffer's, its name is terminated inside the packet and not empty,
// its data is exactly the rest of the request, and it never asks for an append write.
//
// Input: bytes 0..3 pick RBX (the packet size, or something else), the rest is the packet.
#include <VariableRequestLayout.h>
#include <sim/peers/SmmVariable.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 4) {
    return 0;
  }
  UINT32 Choice;
  std::memcpy(&Choice, Data, sizeof(Choice));
  std::vector<UINT8> Packet(Data + 4, Data + Size);
  // Mostly the honest size, so the fuzzer reaches the request; sometimes any value.
  const UINT64 Rbx = (Choice & 0xF) != 0 ? Packet.size() : Choice;

  EFI_STATUS Status = EFI_ABORTED;
  std::optional<sim::SmiVariableWrite> Write = sim::DecodeSmiVariablePacket(Packet, Rbx, Status);
  if (!Write) {
    FUZZ_CHECK(Status != EFI_SUCCESS);
    return 0;
  }
  FUZZ_CHECK(Status == EFI_SUCCESS);
  FUZZ_CHECK(Rbx == Packet.size());
  FUZZ_CHECK(!Write->Name.empty());
  FUZZ_CHECK((Write->Attributes & EFI_VARIABLE_APPEND_WRITE) == 0);
  const size_t NameBytes = (Write->Name.size() + 1) * sizeof(CHAR16);
  FUZZ_CHECK(SMI_VARIABLE_PACKET_REQUEST_OFFSET + VARIABLE_REQUEST_NAME_OFFSET + NameBytes + Write->Data.size() ==
             Packet.size());
  FUZZ_CHECK(std::equal(Write->Data.begin(), Write->Data.end(),
                        Packet.end() - static_cast<std::ptrdiff_t>(Write->Data.size())));
  return 0;
}
