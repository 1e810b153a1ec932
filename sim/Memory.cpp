// CopyMem, SetMem and CalculateCrc32 of the boot services.
#include "ServiceEntry.h"

#include "crc32/Crc32.h"

#include <cstring>

namespace sim {

namespace {

// Overlapping ranges are allowed, as the UEFI CopyMem promises.
VOID EFIAPI SimCopyMem(VOID *Destination, CONST VOID *Source, UINTN Length) {
  BootServiceNoStatus("CopyMem", [&](Platform::Impl &) {
    if (Length == 0) {
      return;
    }
    if (Destination == nullptr || Source == nullptr) {
      Fail(Severity::Unsafe, "CopyMem with a NULL buffer and length " + std::to_string(Length));
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
      Fail(Severity::Unsafe, "SetMem with a NULL buffer and size " + std::to_string(Size));
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
    *Crc = crc32::Crc32(Data, DataSize);
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
