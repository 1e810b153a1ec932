// Client view of the platform's runtime pointer-registration service: only the third and
// fourth functions are called, each with the address of a pointer variable.
#pragma once
#include <SystemTable.h>

inline constexpr EFI_GUID gTeskRegistrationProtocolGuid = {
    0x1C2E4602, 0xE3BA, 0x4B07, {0xE3, 0xB8, 0x35, 0x55, 0xA5, 0x1C, 0x61, 0x3A}};

typedef EFI_STATUS(EFIAPI *TESK_POINTER_FUNCTION)(VOID **PointerAddress);

struct TESK_REGISTRATION_PROTOCOL {
  VOID *Function0;
  VOID *Function1;
  TESK_POINTER_FUNCTION RegisterPointer;
  TESK_POINTER_FUNCTION UnregisterPointer;
};
static_assert(OFFSET_OF(TESK_REGISTRATION_PROTOCOL, RegisterPointer) == 16, "Tesk layout");
static_assert(OFFSET_OF(TESK_REGISTRATION_PROTOCOL, UnregisterPointer) == 24, "Tesk layout");
EFI_PROTOCOL_GUID(TESK_REGISTRATION_PROTOCOL, gTeskRegistrationProtocolGuid);
