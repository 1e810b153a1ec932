// The host side of the arch seam: no port, no breakpoint instruction, no debugger. The
// simulator fills gArchHostHooks after loading the module and plays each of them.
#include <Arch.h>

// Zero until the loader binds it, so an unbound module does nothing where the image
// would trap.
extern "C" IMAGE_EXPORT ARCH_HOST_HOOKS gArchHostHooks = {};

VOID ArchSoftwareSmi(UINT16 Port, UINT8 Value, UINT8 Ah, UINT64 Rbx, UINT64 Rsi) {
  if (gArchHostHooks.SoftwareSmi != NULL) {
    gArchHostHooks.SoftwareSmi(Port, Value, Ah, Rbx, Rsi);
  }
}

VOID ArchBreakpoint(VOID) {
  if (gArchHostHooks.Breakpoint != NULL) {
    gArchHostHooks.Breakpoint();
  }
}

UINT64 ArchSpinRead(volatile UINT64 *Flag) {
  // The hook runs before the read so a test acting as the debugger can release the spin.
  if (gArchHostHooks.SpinRead != NULL) {
    gArchHostHooks.SpinRead(Flag);
  }
  return *Flag;
}

// An unbound module reads what an empty I/O bus gives: all ones.
UINT8 ArchIoRead8(UINT16 Port) {
  if (gArchHostHooks.IoRead8 != NULL) {
    return gArchHostHooks.IoRead8(Port);
  }
  return 0xFF;
}

VOID ArchIoWrite8(UINT16 Port, UINT8 Value) {
  if (gArchHostHooks.IoWrite8 != NULL) {
    gArchHostHooks.IoWrite8(Port, Value);
  }
}
