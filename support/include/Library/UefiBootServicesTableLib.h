#pragma once
#include <Uefi.h>

// Kept by the boot-services table library's constructor.
extern EFI_HANDLE gImageHandle;
extern EFI_SYSTEM_TABLE *gST;
extern EFI_BOOT_SERVICES *gBS;

EFI_STATUS UefiBootServicesTableLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// A protocol lookup that cannot pair an interface type with the wrong GUID.
template <typename Protocol>
inline EFI_STATUS LocateProtocolOf(Protocol **Interface) {
  return gBS->LocateProtocol(&kProtocolGuid<Protocol>, NULL, (VOID **)Interface);
}

template <typename Protocol>
inline EFI_STATUS HandleProtocolOf(EFI_HANDLE Handle, Protocol **Interface) {
  return gBS->HandleProtocol(Handle, &kProtocolGuid<Protocol>, (VOID **)Interface);
}
