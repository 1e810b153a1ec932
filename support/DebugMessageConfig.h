// The "DebugMessageConfig" variable: a 23-byte record of a preset and per-level switches.
#pragma once
#include <Uefi.h>

inline constexpr UINTN kDebugMessageConfigSize = 23;
inline constexpr UINTN kDebugMessageConfigPresetByte = 0;
inline constexpr UINTN kDebugMessageConfigSwitchesOnByte = 4;

// The level mask a 23-byte record selects.
UINT32 DecodeDebugMessageConfig(CONST UINT8 *Config);
