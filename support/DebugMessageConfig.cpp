// Decoding of the "DebugMessageConfig" record into a level mask.
#include <Uefi.h>
#include <Library/DebugLib.h>
#include "DebugMessageConfig.h"

// Bytes 5 to 21, in order: the level each switch turns on.
static constexpr UINT32 kSwitchLevels[] = {DEBUG_INIT,     DEBUG_WARN,     DEBUG_LOAD,  DEBUG_FS,    DEBUG_INFO,
                                           DEBUG_DISPATCH, DEBUG_VARIABLE, DEBUG_BM,    DEBUG_BLKIO, DEBUG_NET,
                                           DEBUG_UNDI,     DEBUG_LOADFILE, DEBUG_EVENT, DEBUG_GCD,   DEBUG_CACHE,
                                           DEBUG_VERBOSE,  DEBUG_ERROR};
static constexpr UINTN kFirstSwitchByte = kDebugMessageConfigSwitchesOnByte + 1;
static_assert(kFirstSwitchByte + ARRAY_SIZE(kSwitchLevels) == kDebugMessageConfigSize - 1, "byte 22 is unused");

// Presets 0 to 4 of byte 0; any other value means no messages at all.
static constexpr UINT32 kPresetLevels[] = {PcdDebugPrintErrorLevel, DEBUG_INFO, DEBUG_ERROR, DEBUG_WARN,
                                           0xFFFFFFFFU & ~(UINT32)(DEBUG_POOL | DEBUG_PAGE)};
static_assert(kPresetLevels[4] == 0xFFFFFFCF, "preset 4");

UINT32 DecodeDebugMessageConfig(CONST UINT8 *Config) {
  UINT32 Mask;
  UINTN Index;

  if (Config == NULL) {
    return PcdDebugPrintErrorLevel;
  }
  if (Config[kDebugMessageConfigSwitchesOnByte] == 0) {
    UINT8 Preset = Config[kDebugMessageConfigPresetByte];
    return Preset < ARRAY_SIZE(kPresetLevels) ? kPresetLevels[Preset] : 0;
  }
  Mask = 0;
  for (Index = 0; Index < ARRAY_SIZE(kSwitchLevels); Index++) {
    if (Config[kFirstSwitchByte + Index] != 0) {
      Mask |= kSwitchLevels[Index];
    }
  }
  return Mask;
}
