// PI's SMM base protocol (EFI_MM_BASE_PROTOCOL under its SMM name): a Traditional MM driver
// finds the MM system table through it at its entry point.
#pragma once
#include "../Pi/PiMmCis.h"

inline constexpr EFI_GUID gEfiSmmBase2ProtocolGuid = {
    0xF4CCBFB7, 0xF6E0, 0x47FD, {0x9D, 0xD4, 0x10, 0xA8, 0xF1, 0x50, 0xC1, 0x91}};

struct EFI_SMM_BASE2_PROTOCOL {
  EFI_STATUS(EFIAPI *InSmm)(CONST EFI_SMM_BASE2_PROTOCOL *This, BOOLEAN *InSmram);
  EFI_STATUS(EFIAPI *GetSmstLocation)(CONST EFI_SMM_BASE2_PROTOCOL *This, EFI_SMM_SYSTEM_TABLE2 **Smst);
};
static_assert(sizeof(EFI_SMM_BASE2_PROTOCOL) == 16, "SMM base 2 layout");
static_assert(OFFSET_OF(EFI_SMM_BASE2_PROTOCOL, GetSmstLocation) == 8, "SMM base 2 layout");
EFI_PROTOCOL_GUID(EFI_SMM_BASE2_PROTOCOL, gEfiSmmBase2ProtocolGuid);
