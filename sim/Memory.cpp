// CopyMem, SetMem and CalculateCrc32 of the boot services.
#include "ServiceEntry.h"

#include <array>
#include <cstring>

namespace sim {

namespace {

constexpr std::array<UINT32, 256> MakeCrcTable() {
  std::array<UINT32, 256> Table{};
  for (UINT32 Index = 0; Index < 256; Index++) {
    UINT32 Value = Index;
    for (int Bit = 0; Bit < 8; Bit++) {
      Value = (Value & 1) != 0 ? (Value >> 1) ^ 0xEDB88320u : Value >> 1;
    }
    Table[Index] = Value;
  }
  return Table;
}

constexpr auto kCrcTable = MakeCrcTable();

}  // namespace

UINT32 Crc32(const void *Data, size_t Size) {
  const auto *Bytes = static_cast<const UINT8 *>(Data);
  UINT32 Crc = 0xFFFFFFFFu;
  for (size_t Index = 0; Index < Size; Index++) {
    Crc = (Crc >> 8) ^ kCrcTable[(Crc ^ Bytes[Index]) & 0xFF];
  }
  return Crc ^ 0xFFFFFFFFu;
}

namespace {

// Overlapping ranges are allowed, as the UEFI CopyMem promises.
VOID EFIAPI SimCopyMem(VOID *Destination, CONST VOID *Source, UINTN Length) {
  BootServiceNoStatus("CopyMem", [&](Platform::Impl &) {
    if (Length == 0) {
      return;
    }
    if (Destination == nullptr || Source == nullptr) {
      Fail("CopyMem with a NULL buffer and length " + std::to_string(Length));
      return;
    }
    std::memmove(Destination, Source, Length);
  });
}

VOID EFIAPI SimSetMem(VOID *Buffer, UINTN Size, UINT8 Value) {
  BootServiceNoStatus("SetMem", [&](Platform::Impl &) {
    if (Size == 0) {
      return;
    }
    if (Buffer == nullptr) {
      Fail("SetMem with a NULL buffer and size " + std::to_string(Size));
      return;
    }
    std::memset(Buffer, Value, Size);
  });
}

EFI_STATUS EFIAPI SimCalculateCrc32(CONST VOID *Data, UINTN DataSize, UINT32 *Crc) {
  return BootService("CalculateCrc32", [&](Platform::Impl &) {
    if (Data == nullptr || DataSize == 0 || Crc == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    *Crc = Crc32(Data, DataSize);
    return EFI_SUCCESS;
  });
}

}  // namespace

void FillMemoryServices(EFI_BOOT_SERVICES &Bs) {
  Bs.CopyMem = SimCopyMem;
  Bs.SetMem = SimSetMem;
  Bs.CalculateCrc32 = SimCalculateCrc32;
}

}  // namespace sim
