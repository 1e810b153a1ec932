// EFI_GUID in the UEFI layout, and the compile-time tie between a protocol type and its GUID.
#pragma once

#include "Base.h"

struct EFI_GUID {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
};
static_assert(sizeof(EFI_GUID) == 16, "EFI_GUID layout");

constexpr bool GuidEquals(const EFI_GUID &A, const EFI_GUID &B) {
  if (A.Data1 != B.Data1 || A.Data2 != B.Data2 || A.Data3 != B.Data3) {
    return false;
  }
  for (int Index = 0; Index < 8; Index++) {
    if (A.Data4[Index] != B.Data4[Index]) {
      return false;
    }
  }
  return true;
}

// Every protocol header binds its interface type to its GUID with EFI_PROTOCOL_GUID, so
// that a lookup written as LocateProtocolOf<T> cannot pair a type with the wrong GUID.
template <class Protocol>
struct ProtocolGuidOf;

#define EFI_PROTOCOL_GUID(Protocol, GuidVariable) \
  template <> \
  struct ProtocolGuidOf<Protocol> { \
    static constexpr const EFI_GUID &Value = GuidVariable; \
  }

template <class Protocol>
constexpr const EFI_GUID &kProtocolGuid = ProtocolGuidOf<Protocol>::Value;
