// Helpers shared by the two status-code instances' tests.
#pragma once

#include "ProbeFixture.h"

namespace supporttest {

inline constexpr EFI_GUID kDataType = {0xA1B2C3D4, 0x1111, 0x2222, {0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0x00}};
inline constexpr EFI_STATUS_CODE_TYPE kProgressCode = EFI_PROGRESS_CODE;
inline constexpr EFI_STATUS_CODE_VALUE kSomeValue = 0x03051001;

inline std::vector<UINT8> Payload(size_t Size) {
  std::vector<UINT8> Bytes(Size);
  for (size_t Index = 0; Index < Size; Index++) {
    Bytes[Index] = static_cast<UINT8>(Index * 7 + 1);
  }
  return Bytes;
}

// The whole record the protocol should receive for Payload(Size) under kDataType.
inline std::vector<UINT8> ExpectedRecord(size_t Size, const EFI_GUID &Type = kDataType) {
  std::vector<UINT8> Record(20, 0);
  Record[0] = 20;
  Record[2] = static_cast<UINT8>(Size);
  Record[3] = static_cast<UINT8>(Size >> 8);
  std::memcpy(Record.data() + 4, &Type, sizeof Type);
  std::vector<UINT8> Data = Payload(Size);
  Record.insert(Record.end(), Data.begin(), Data.end());
  return Record;
}

class StatusCodeTest : public ProbeTest {
 protected:
  EFI_STATUS Report(size_t Size, EFI_STATUS_CODE_TYPE Type = kProgressCode, const EFI_GUID *Caller = nullptr) {
    std::vector<UINT8> Data = Payload(Size);
    return Probe->ReportStatusCodeEx(Type, kSomeValue, 5, Caller, &kDataType, Size != 0 ? Data.data() : nullptr, Size);
  }

  EFI_STATUS ReportAt(EFI_TPL Tpl, size_t Size) {
    EFI_STATUS Status = EFI_ABORTED;
    Platform.RunAt(Tpl, [&] { Status = Report(Size); });
    return Status;
  }

  const sim::StatusCodeReport &Last() const { return Platform.StatusCodes().back(); }
};

}  // namespace supporttest
