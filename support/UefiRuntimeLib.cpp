// Runtime-driver library: remembers the runtime services, and learns from two event groups
// when boot services end and when the OS has switched to virtual addresses.
#include <Uefi.h>
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeLib.h>

EFI_RUNTIME_SERVICES *mInternalRT = nullptr;
EFI_EVENT mEfiExitBootServicesEvent = nullptr;
EFI_EVENT mEfiVirtualNotifyEvent = nullptr;
BOOLEAN mEfiAtRuntime = FALSE;
BOOLEAN mEfiGoneVirtual = FALSE;

static VOID EFIAPI RuntimeLibExitBootServicesEvent(EFI_EVENT Event, VOID *Context) { mEfiAtRuntime = TRUE; }

static VOID EFIAPI RuntimeLibVirtualNotifyEvent(EFI_EVENT Event, VOID *Context) { mEfiGoneVirtual = TRUE; }

EFI_STATUS UefiRuntimeLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  ASSERT(SystemTable != NULL_FOR_ASSERT);
  if (SystemTable == nullptr || SystemTable->BootServices == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  mInternalRT = SystemTable->RuntimeServices;
  ASSERT(mInternalRT != NULL_FOR_ASSERT);

  // Both events are attempted even when the first fails; the first failure is returned.
  EFI_BOOT_SERVICES *BootServices = SystemTable->BootServices;
  EFI_STATUS Status = BootServices->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, RuntimeLibExitBootServicesEvent,
                                                  nullptr, &gEfiEventExitBootServicesGuid, &mEfiExitBootServicesEvent);
  ASSERT_EFI_ERROR(Status);
  if (EFI_ERROR(Status)) {
    mEfiExitBootServicesEvent = nullptr;
  }

  EFI_STATUS VirtualStatus =
      BootServices->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, RuntimeLibVirtualNotifyEvent, nullptr,
                                  &gEfiEventVirtualAddressChangeGuid, &mEfiVirtualNotifyEvent);
  ASSERT_EFI_ERROR(VirtualStatus);
  if (EFI_ERROR(VirtualStatus)) {
    mEfiVirtualNotifyEvent = nullptr;
  }
  return EFI_ERROR(Status) ? Status : VirtualStatus;
}

// Closes only the events the constructor made, each once, so a second call is harmless.
EFI_STATUS UefiRuntimeLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  ASSERT(gBS != NULL_FOR_ASSERT);
  if (gBS == nullptr) {
    return EFI_UNSUPPORTED;
  }
  EFI_STATUS Result = EFI_SUCCESS;
  if (mEfiExitBootServicesEvent != nullptr) {
    EFI_STATUS Status = gBS->CloseEvent(mEfiExitBootServicesEvent);
    ASSERT_EFI_ERROR(Status);
    mEfiExitBootServicesEvent = nullptr;
    Result = Status;
  }
  if (mEfiVirtualNotifyEvent != nullptr) {
    EFI_STATUS Status = gBS->CloseEvent(mEfiVirtualNotifyEvent);
    ASSERT_EFI_ERROR(Status);
    mEfiVirtualNotifyEvent = nullptr;
    if (!EFI_ERROR(Result)) {
      Result = Status;
    }
  }
  return Result;
}

BOOLEAN EfiAtRuntime(VOID) { return mEfiAtRuntime; }

BOOLEAN EfiGoneVirtual(VOID) { return mEfiGoneVirtual; }

EFI_STATUS EfiConvertPointer(UINTN DebugDisposition, VOID **Address) {
  if (mInternalRT == nullptr) {
    return EFI_UNSUPPORTED;
  }
  return mInternalRT->ConvertPointer(DebugDisposition, Address);
}
