#include <Uefi.h>
#include <Library/BaseLib.h>
#include <Arch.h>

VOID CpuBreakpoint(VOID) { ArchBreakpoint(); }
