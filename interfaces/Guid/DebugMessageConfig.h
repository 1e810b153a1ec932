#pragma once
#include <Guid.h>

// Names both the "DebugMessageConfig" variable and the early-boot HOB that stands in for it.
inline constexpr EFI_GUID gDebugMessageConfigGuid = {
    0x091AAE73, 0x6D75, 0x479E, {0x8D, 0x16, 0x8E, 0x38, 0xD8, 0xC8, 0x58, 0xC6}};
inline constexpr CHAR16 kDebugMessageConfigName[] = u"DebugMessageConfig";
