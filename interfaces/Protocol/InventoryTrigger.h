#pragma once
#include <Guid.h>

// Installed by another platform component when the inventory is to be taken; its
// interface is never read.
inline constexpr EFI_GUID gInventoryTriggerProtocolGuid = {
    0xD4D9CBD2, 0x6B05, 0x4F60, {0x9A, 0xB8, 0xEE, 0x89, 0xB5, 0x08, 0x7C, 0x07}};
