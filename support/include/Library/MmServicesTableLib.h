#pragma once
#include <Uefi.h>
#include <Pi/PiMmCis.h>

// The MM system table of a Traditional MM driver, found through the SMM base protocol by
// the library's constructor. gSmst is the same table under its SMM name.
extern EFI_MM_SYSTEM_TABLE *gMmst;
extern EFI_SMM_SYSTEM_TABLE2 *gSmst;

// Needs the boot services (the SMM base protocol is in the DXE protocol database), so it
// runs after the boot-services table library's constructor.
EFI_STATUS SmmServicesTableLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// An MM protocol lookup that cannot pair an interface type with the wrong GUID.
template <typename Protocol>
inline EFI_STATUS MmLocateProtocolOf(Protocol **Interface) {
  return gMmst->MmLocateProtocol(&kProtocolGuid<Protocol>, NULL, (VOID **)Interface);
}
