// Client of the platform's Tesk registration service: a runtime image hands it the
// addresses of its pointer variables so that they follow the switch to virtual addressing.
#pragma once
#include <Uefi.h>

// Both reach the service only when it is known and the image runs as runtime code;
// otherwise they return EFI_ABORTED and nothing else happens.
EFI_STATUS TeskRegisterPointer(VOID **Address);
EFI_STATUS TeskUnregisterPointer(VOID **Address);

EFI_STATUS TeskRegistrationLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS TeskRegistrationLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
