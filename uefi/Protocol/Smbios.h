#pragma once
#include "../SystemTable.h"
#include "../IndustryStandard/SmBios.h"

inline constexpr EFI_GUID gEfiSmbiosProtocolGuid = {
    0x03583FF6, 0xCB36, 0x4940, {0x94, 0x7E, 0xB9, 0xB3, 0x9F, 0x4A, 0xFA, 0xF7}};

typedef UINT16 EFI_SMBIOS_HANDLE;
typedef UINT8 EFI_SMBIOS_TYPE;
#define SMBIOS_HANDLE_PI_RESERVED 0xFFFE

struct EFI_SMBIOS_PROTOCOL {
  EFI_STATUS(EFIAPI *Add)
  (CONST EFI_SMBIOS_PROTOCOL *This, EFI_HANDLE ProducerHandle, EFI_SMBIOS_HANDLE *SmbiosHandle,
   SMBIOS_STRUCTURE *Record);
  EFI_STATUS(EFIAPI *UpdateString)
  (CONST EFI_SMBIOS_PROTOCOL *This, EFI_SMBIOS_HANDLE *SmbiosHandle, UINTN *StringNumber, CHAR8 *String);
  EFI_STATUS(EFIAPI *Remove)(CONST EFI_SMBIOS_PROTOCOL *This, EFI_SMBIOS_HANDLE SmbiosHandle);
  EFI_STATUS(EFIAPI *GetNext)
  (CONST EFI_SMBIOS_PROTOCOL *This, EFI_SMBIOS_HANDLE *SmbiosHandle, EFI_SMBIOS_TYPE *Type, SMBIOS_STRUCTURE **Record,
   EFI_HANDLE *ProducerHandle);
  UINT8 MajorVersion;
  UINT8 MinorVersion;
};
static_assert(OFFSET_OF(EFI_SMBIOS_PROTOCOL, GetNext) == 24, "SMBIOS protocol layout");
static_assert(OFFSET_OF(EFI_SMBIOS_PROTOCOL, MajorVersion) == 32, "SMBIOS protocol layout");
EFI_PROTOCOL_GUID(EFI_SMBIOS_PROTOCOL, gEfiSmbiosProtocolGuid);
