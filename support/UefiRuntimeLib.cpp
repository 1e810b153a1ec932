// Runtime-driver library: remembers the runtime services, and learns from two event groups
// when boot services end and when the OS has switched to virtual addresses.
#include <Uefi.h>
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeLib.h>

EFI_RUNTIME_SERVICES *mInternalRT = NULL;
EFI_EVENT mEfiExitBootServicesEvent = NULL;
EFI_EVENT mEfiVirtualNotifyEvent = NULL;
BOOLEAN mEfiAtRuntime = FALSE;
BOOLEAN mEfiGoneVirtual = FALSE;

static VOID EFIAPI RuntimeLibExitBootServicesEvent(EFI_EVENT Event, VOID *Context) { mEfiAtRuntime = TRUE; }

static VOID EFIAPI RuntimeLibVirtualNotifyEvent(EFI_EVENT Event, VOID *Context) { mEfiGoneVirtual = TRUE; }

EFI_STATUS UefiRuntimeLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_BOOT_SERVICES *BootServices;
  EFI_STATUS Status;
  EFI_STATUS VirtualStatus;

  ASSERT(SystemTable != NULL_FOR_ASSERT);
  if (SystemTable == NULL || SystemTable->BootServices == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  mInternalRT = SystemTable->RuntimeServices;
  ASSERT(mInternalRT != NULL_FOR_ASSERT);

  // Both events are attempted even when the first fails; the first failure is returned.
  BootServices = SystemTable->BootServices;
  Status = BootServices->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, RuntimeLibExitBootServicesEvent, NULL,
                                       &gEfiEventExitBootServicesGuid, &mEfiExitBootServicesEvent);
  ASSERT_EFI_ERROR(Status);
  if (EFI_ERROR(Status)) {
    mEfiExitBootServicesEvent = NULL;
  }

  VirtualStatus = BootServices->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, RuntimeLibVirtualNotifyEvent, NULL,
                                              &gEfiEventVirtualAddressChangeGuid, &mEfiVirtualNotifyEvent);
  ASSERT_EFI_ERROR(VirtualStatus);
  if (EFI_ERROR(VirtualStatus)) {
    mEfiVirtualNotifyEvent = NULL;
  }
  return EFI_ERROR(Status) ? Status : VirtualStatus;
}

// Closes only the events the constructor made, each once, so a second call is harmless.
EFI_STATUS UefiRuntimeLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Result;

  ASSERT(gBS != NULL_FOR_ASSERT);
  if (gBS == NULL) {
    return EFI_UNSUPPORTED;
  }
  Result = EFI_SUCCESS;
  if (mEfiExitBootServicesEvent != NULL) {
    EFI_STATUS Status = gBS->CloseEvent(mEfiExitBootServicesEvent);
    ASSERT_EFI_ERROR(Status);
    mEfiExitBootServicesEvent = NULL;
    Result = Status;
  }
  if (mEfiVirtualNotifyEvent != NULL) {
    EFI_STATUS Status = gBS->CloseEvent(mEfiVirtualNotifyEvent);
    ASSERT_EFI_ERROR(Status);
    mEfiVirtualNotifyEvent = NULL;
    if (!EFI_ERROR(Result)) {
      Result = Status;
    }
  }
  return Result;
}

BOOLEAN EfiAtRuntime(VOID) { return mEfiAtRuntime; }

BOOLEAN EfiGoneVirtual(VOID) { return mEfiGoneVirtual; }

EFI_STATUS EfiConvertPointer(UINTN DebugDisposition, VOID **Address) {
  if (mInternalRT == NULL) {
    return EFI_UNSUPPORTED;
  }
  return mInternalRT->ConvertPointer(DebugDisposition, Address);
}
