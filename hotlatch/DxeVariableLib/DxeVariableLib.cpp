// The library's runtime-services pointer and the end of boot services.
#include "../TeskRegistrationLib/TeskRegistrationLib.h"

#include "DxeVariableLibInternal.h"

EFI_RUNTIME_SERVICES *mVariableRuntimeServices;
BOOLEAN mVariableBootServicesExited;
EFI_EVENT mVariableExitBootServicesEvent;
static BOOLEAN mVariableExitBootServicesEventClosed;

static VOID EFIAPI VariableLibExitBootServicesNotify(EFI_EVENT Event, VOID *Context) {
  mVariableBootServicesExited = TRUE;
  gBS->CloseEvent(Event);
  mVariableExitBootServicesEventClosed = TRUE;
}

EFI_STATUS DxeVariableLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  mVariableRuntimeServices = gRT;
  mVariableBootServicesExited = FALSE;
  mVariableExitBootServicesEvent = nullptr;
  mVariableExitBootServicesEventClosed = FALSE;
  // Without the service yet this is EFI_ABORTED, and the pointer stays unconverted; writes
  // after boot services are refused anyway, so the pointer is never used then.
  TeskRegisterPointer((VOID **)&mVariableRuntimeServices);
  return gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, VariableLibExitBootServicesNotify, nullptr,
                            &gEfiEventExitBootServicesGuid, &mVariableExitBootServicesEvent);
}

EFI_STATUS DxeVariableLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  ASSERT(gBS != ((void *) 0));
  if (mVariableExitBootServicesEvent != nullptr && !mVariableExitBootServicesEventClosed) {
    EFI_STATUS Status = gBS->CloseEvent(mVariableExitBootServicesEvent);
    ASSERT_EFI_ERROR(Status);
    mVariableExitBootServicesEventClosed = TRUE;
  }
  if (mVariableRuntimeServices != nullptr) {
    TeskUnregisterPointer((VOID **)&mVariableRuntimeServices);
  }
  return EFI_SUCCESS;
}
