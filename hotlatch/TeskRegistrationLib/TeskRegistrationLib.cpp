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
  EFI_STATUS Status = gBS->LocateProtocol(&gTeskRegistrationProtocolGuid, NULL, (VOID **)&mTeskService);
  if (EFI_ERROR(Status)) {
    // Not this installation (or the first, unconditional signal): keep waiting.
    mTeskService = NULL;
    return;
  }
  TeskRegisterServicePointer();
  gBS->CloseEvent(Event);
  mTeskRegEventClosed = TRUE;
}

EFI_STATUS TeskRegistrationLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_LOADED_IMAGE_PROTOCOL *LoadedImage;
  EFI_STATUS Status;

  mTeskRegEvent = NULL;
  LoadedImage = NULL;
  Status = HandleProtocolOf(ImageHandle, &LoadedImage);
  mTeskRuntimeImage = !EFI_ERROR(Status) && LoadedImage != NULL && LoadedImage->ImageCodeType == EfiRuntimeServicesCode;

  Status = LocateProtocolOf(&mTeskService);
  if (!EFI_ERROR(Status) && mTeskService != NULL) {
    TeskRegisterServicePointer();
    return EFI_SUCCESS;
  }

  mTeskService = NULL;
  // Before the event exists: its first signal is immediate and may already close it.
  mTeskRegEventClosed = FALSE;
  mTeskRegEvent = EfiCreateProtocolNotifyEvent(&gTeskRegistrationProtocolGuid, TPL_CALLBACK, TeskRegistrationNotify,
                                               NULL, &mTeskRegistration);
  // Spelled as the firmware's NULL so the assertion record reads as it always has.
  ASSERT(mTeskRegEvent != NULL_FOR_ASSERT);
  return EFI_SUCCESS;
}

EFI_STATUS TeskRegistrationLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  ASSERT(gBS != NULL_FOR_ASSERT);
  if (mTeskRegEvent != NULL && !mTeskRegEventClosed) {
    EFI_STATUS Status = gBS->CloseEvent(mTeskRegEvent);
    ASSERT_EFI_ERROR(Status);
    mTeskRegEventClosed = TRUE;
  } else if (mTeskService != NULL && mTeskRuntimeImage) {
    // Found by the constructor or by the notify: the service must not keep converting a
    // pointer inside an image that is about to be unloaded.
    TeskUnregisterPointer((VOID **)&mTeskService);
  }
  return EFI_SUCCESS;
}
