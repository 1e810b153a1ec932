// PI's SMM ready-to-lock protocol, installed in the SMM protocol database when the platform
// locks SMRAM (at the start of BDS). From then on an EDK II SMM core may map ordinary boot
// memory out of the SMM page tables.
#pragma once
#include "../Guid.h"

inline constexpr EFI_GUID gEfiSmmReadyToLockProtocolGuid = {
    0x47B7FA8C, 0xF4BD, 0x4AF6, {0x82, 0x00, 0x33, 0x30, 0x86, 0xF0, 0xD2, 0xC8}};
