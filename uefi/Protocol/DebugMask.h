#pragma once
#include "../SystemTable.h"

inline constexpr EFI_GUID gEfiDebugMaskProtocolGuid = {
    0x4C8A2451, 0xC207, 0x405B, {0x96, 0x94, 0x99, 0xEA, 0x13, 0x25, 0x13, 0x41}};

#define EFI_DEBUG_MASK_REVISION 0x00010000

struct EFI_DEBUG_MASK_PROTOCOL {
  INT64 Revision;
  EFI_STATUS(EFIAPI *GetDebugMask)(EFI_DEBUG_MASK_PROTOCOL *This, UINTN *CurrentDebugMask);
  EFI_STATUS(EFIAPI *SetDebugMask)(EFI_DEBUG_MASK_PROTOCOL *This, UINTN NewDebugMask);
};
static_assert(sizeof(EFI_DEBUG_MASK_PROTOCOL) == 24, "debug mask layout");
EFI_PROTOCOL_GUID(EFI_DEBUG_MASK_PROTOCOL, gEfiDebugMaskProtocolGuid);
