// Forwarding a pointer registration to the service. The service takes no interface
// argument: it keeps its own state.
#include "TeskRegistrationLibInternal.h"

TESK_REGISTRATION_PROTOCOL *mTeskService;
BOOLEAN mTeskRuntimeImage;

// Only runtime code needs its pointers converted; a boot-service image is gone by then.
static BOOLEAN TeskServiceUsable(VOID) { return mTeskService != NULL && mTeskRuntimeImage; }

EFI_STATUS TeskRegisterPointer(VOID **Address) {
  if (!TeskServiceUsable()) {
    return EFI_ABORTED;
  }
  return mTeskService->RegisterPointer(Address);
}

EFI_STATUS TeskUnregisterPointer(VOID **Address) {
  if (!TeskServiceUsable()) {
    return EFI_ABORTED;
  }
  return mTeskService->UnregisterPointer(Address);
}
