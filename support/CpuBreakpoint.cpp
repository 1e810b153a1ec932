#include <Uefi.h>
#include <Library/BaseLib.h>
#include <support/arch/Arch.h>

VOID CpuBreakpoint(VOID) { ArchBreakpoint(); }
