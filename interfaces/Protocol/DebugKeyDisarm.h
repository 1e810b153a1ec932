#pragma once
#include <Guid.h>

// Installed by the platform when the debug hot key is to be withdrawn; never opened.
inline constexpr EFI_GUID gDebugKeyDisarmProtocolGuid = {
    0x06AC6E54, 0xC189, 0x4138, {0xBD, 0x50, 0x15, 0x45, 0x3D, 0x20, 0x88, 0xC1}};
