// The fixed debug level of a module that may not read variables through the runtime
// services (an MM driver runs where their code cannot be called): the build setting.
#include <Uefi.h>
#include <Library/DebugLib.h>
#include <Library/DebugPrintErrorLevelLib.h>

UINT32 GetDebugPrintErrorLevel(VOID) { return PcdDebugPrintErrorLevel; }

// The level never changes, so it is settled from the start and a message below it costs one test.
UINT32 gDebugPrintSettledMask = PcdDebugPrintErrorLevel;
