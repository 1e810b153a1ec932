// A tiny module for the loader tests: it counts its own starts in module state, so a
// second load that shared state with the first would show a count of 2.
#include <Uefi.h>
#include <Arch.h>

static UINT32 mStartCount;

extern "C" IMAGE_EXPORT ARCH_HOST_HOOKS gArchHostHooks;
ARCH_HOST_HOOKS gArchHostHooks;

extern "C" IMAGE_EXPORT UINT32 ProbeStartCount() { return mStartCount; }

extern "C" IMAGE_EXPORT EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  mStartCount++;
  if (gArchHostHooks.Breakpoint != nullptr) {
    gArchHostHooks.Breakpoint();
  }
  return mStartCount == 1 ? EFI_SUCCESS : EFI_ALREADY_STARTED;
}

static VOID EFIAPI ProbeNotify(EFI_EVENT Event, VOID *Context) { mStartCount++; }

// Leaves an event behind whose notification lives in this module.
extern "C" IMAGE_EXPORT EFI_EVENT ProbeCreateEvent(EFI_SYSTEM_TABLE *SystemTable) {
  EFI_EVENT Event = nullptr;
  SystemTable->BootServices->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, ProbeNotify, nullptr, &Event);
  return Event;
}
