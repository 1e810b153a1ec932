#pragma once
#include <Guid.h>

inline constexpr EFI_GUID gPlatformIdentityProtocolGuid = {
    0xAC6F5F1D, 0x0D53, 0x44A9, {0xAB, 0xBE, 0xC9, 0x24, 0x57, 0xD3, 0xE3, 0x7A}};

// Only the four identity words at byte offsets 4, 6, 8 and 10 are consumed.
struct PLATFORM_IDENTITY_PROTOCOL {
  UINT32 Revision;
  UINT16 Word4;
  UINT16 Word6;
  UINT16 Word8;
  UINT16 Word10;
};
static_assert(OFFSET_OF(PLATFORM_IDENTITY_PROTOCOL, Word4) == 4, "identity layout");
static_assert(OFFSET_OF(PLATFORM_IDENTITY_PROTOCOL, Word10) == 10, "identity layout");
EFI_PROTOCOL_GUID(PLATFORM_IDENTITY_PROTOCOL, gPlatformIdentityProtocolGuid);
