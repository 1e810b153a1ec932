// Finding the Tesk service at start, or waiting for it, and letting go on a failed start.
#include "TeskRegistrationLibInternal.h"

EFI_EVENT mTeskRegEvent;
static VOID *mTeskRegistration;
// The notify closes the wait itself, possibly before the constructor has stored the event
// (the first signal is immediate), so the handle alone cannot tell that it is gone.
static BOOLEAN mTeskRegEventClosed;

// The library's own service pointer must be converted too, or later calls through it
// would use a physical address.
static VOID TeskRegisterServicePointer(VOID) {
  if (mTeskRuntimeImage) {
    TeskRegisterPointer((VOID **)&mTeskService);
  }
}

VOID EFIAPI TeskRegistrationNotify(EFI_EVENT Event, VOID *Context) {
  EFI_STATUS Status = gBS->LocateProtocol(&gTeskRegistrationProtocolGuid, nullptr, (VOID **)&mTeskService);
  if (EFI_ERROR(Status)) {
    // Not this installation (or the first, unconditional signal): keep waiting.
    mTeskService = nullptr;
    return;
  }
  TeskRegisterServicePointer();
  gBS->CloseEvent(Event);
  mTeskRegEventClosed = TRUE;
}

EFI_STATUS TeskRegistrationLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  mTeskRegEvent = nullptr;
  EFI_LOADED_IMAGE_PROTOCOL *LoadedImage = nullptr;
  EFI_STATUS Status = HandleProtocolOf(ImageHandle, &LoadedImage);
  mTeskRuntimeImage =
      !EFI_ERROR(Status) && LoadedImage != nullptr && LoadedImage->ImageCodeType == EfiRuntimeServicesCode;

  Status = LocateProtocolOf(&mTeskService);
  if (!EFI_ERROR(Status) && mTeskService != nullptr) {
    TeskRegisterServicePointer();
    return EFI_SUCCESS;
  }

  mTeskService = nullptr;
  // Before the event exists: its first signal is immediate and may already close it.
  mTeskRegEventClosed = FALSE;
  mTeskRegEvent = EfiCreateProtocolNotifyEvent(&gTeskRegistrationProtocolGuid, TPL_CALLBACK, TeskRegistrationNotify,
                                               nullptr, &mTeskRegistration);
  // Spelled as the firmware's NULL so the assertion record reads as it always has.
  ASSERT(mTeskRegEvent != NULL_FOR_ASSERT);
  return EFI_SUCCESS;
}

EFI_STATUS TeskRegistrationLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  ASSERT(gBS != NULL_FOR_ASSERT);
  if (mTeskRegEvent != nullptr && !mTeskRegEventClosed) {
    EFI_STATUS Status = gBS->CloseEvent(mTeskRegEvent);
    ASSERT_EFI_ERROR(Status);
    mTeskRegEventClosed = TRUE;
  } else if (mTeskService != nullptr && mTeskRuntimeImage) {
    // Found by the constructor or by the notify: the service must not keep converting a
    // pointer inside an image that is about to be unloaded.
    TeskUnregisterPointer((VOID **)&mTeskService);
  }
  return EFI_SUCCESS;
}
