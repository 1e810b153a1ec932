// The architecture seam of host-built drivers: the port write of a software SMI, the
// breakpoint, the spin read of a dead loop and plain port accesses reach the live
// platform through here.
#include "PlatformImpl.h"

namespace sim {

namespace {

void HookSoftwareSmi(UINT16 Port, UINT8 Value, UINT8 Ah, UINT64 Rbx, UINT64 Rsi) {
  Platform *P = LivePlatform("SoftwareSmi");
  if (P == nullptr) {
    return;
  }
  if (!P->OnSoftwareSmi) {
    Fail("software SMI on port " + std::to_string(Port) + " with no handler in the test");
    return;
  }
  P->OnSoftwareSmi(Port, Value, Ah, Rbx, Rsi);
}

void HookBreakpoint() {
  if (Platform *P = LivePlatform("Breakpoint")) {
    P->Breakpoints++;
  }
}

// A dead loop with no test playing the debugger would hang the run: it is reported and
// released instead.
void HookSpinRead(volatile UINT64 *Flag) {
  Platform *P = LivePlatform("SpinRead");
  if (P != nullptr && P->OnSpinRead) {
    P->OnSpinRead(Flag);
    return;
  }
  Fail(Severity::Unsafe, "a dead loop spun with no OnSpinRead handler; releasing it");
  *Flag = 1;
}

UINT8 HookIoRead8(UINT16 Port) {
  Platform *P = LivePlatform("IoRead8");
  if (P == nullptr || !P->OnIoRead8) {
    return 0xFF;
  }
  return P->OnIoRead8(Port);
}

void HookIoWrite8(UINT16 Port, UINT8 Value) {
  Platform *P = LivePlatform("IoWrite8");
  if (P != nullptr && P->OnIoWrite8) {
    P->OnIoWrite8(Port, Value);
  }
}

}  // namespace

void Platform::BindHostHooks(ARCH_HOST_HOOKS *Hooks) {
  if (Hooks == nullptr) {
    return;
  }
  Hooks->SoftwareSmi = HookSoftwareSmi;
  Hooks->Breakpoint = HookBreakpoint;
  Hooks->SpinRead = HookSpinRead;
  Hooks->IoRead8 = HookIoRead8;
  Hooks->IoWrite8 = HookIoWrite8;
}

}  // namespace sim
