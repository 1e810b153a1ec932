// The library's runtime-services pointer and the end of boot services.
#include "../TeskRegistrationLib/TeskRegistrationLib.h"

#include "DxeVariableLibInternal.h"

EFI_RUNTIME_SERVICES *mVariableRuntimeServices;
BOOLEAN mVariableBootServicesExited;
EFI_EVENT mVariableExitBootServicesEvent;

// UEFI allows no memory service inside an exit-boot-services notification, and closing an
// event frees firmware memory: the event stays with the firmware, which drops it with the
// boot services.
static VOID EFIAPI VariableLibExitBootServicesNotify(EFI_EVENT Event, VOID *Context) {
  mVariableBootServicesExited = TRUE;
}

EFI_STATUS DxeVariableLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  mVariableRuntimeServices = gRT;
  mVariableBootServicesExited = FALSE;
  mVariableExitBootServicesEvent = NULL;
  // Without the service yet this is EFI_ABORTED, and the pointer stays unconverted; writes
  // after boot services are refused anyway, so the pointer is never used then.
  TeskRegisterPointer((VOID **)&mVariableRuntimeServices);
  return gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, VariableLibExitBootServicesNotify, NULL,
                            &gEfiEventExitBootServicesGuid, &mVariableExitBootServicesEvent);
}

EFI_STATUS DxeVariableLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  ASSERT(gBS != NULL_FOR_ASSERT);
  // Destructors run only in the boot-services phase; a second call finds the event gone.
  if (mVariableExitBootServicesEvent != NULL && !mVariableBootServicesExited) {
    EFI_STATUS Status = gBS->CloseEvent(mVariableExitBootServicesEvent);
    ASSERT_EFI_ERROR(Status);
    mVariableExitBootServicesEvent = NULL;
  }
  if (mVariableRuntimeServices != NULL) {
    TeskUnregisterPointer((VOID **)&mVariableRuntimeServices);
  }
  return EFI_SUCCESS;
}
