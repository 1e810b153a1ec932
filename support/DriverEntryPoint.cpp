// Image entry of both drivers: constructors, optional unload handler, the start routine,
// and the destructors when the start routine fails.
#include <Uefi.h>
#include <Library/DebugLib.h>
#include <Library/ModuleEntryPoint.h>
#include <Library/UefiBootServicesTableLib.h>

// Destructors run only when every unload function agreed to the unload.
static EFI_STATUS EFIAPI DriverUnloadHandler(EFI_HANDLE ImageHandle) {
  EFI_STATUS Status = ProcessModuleUnloadList(ImageHandle);
  if (!EFI_ERROR(Status)) {
    ProcessLibraryDestructorList(ImageHandle, gST);
  }
  return Status;
}

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Status;

  if (_gUefiDriverRevision != 0 && SystemTable->Hdr.Revision < _gUefiDriverRevision) {
    return EFI_INCOMPATIBLE_VERSION;
  }

  ProcessLibraryConstructorList(ImageHandle, SystemTable);

  if (_gDriverUnloadImageCount != 0) {
    EFI_LOADED_IMAGE_PROTOCOL *LoadedImage = NULL;
    EFI_STATUS Status = HandleProtocolOf(ImageHandle, &LoadedImage);
    ASSERT_EFI_ERROR(Status);
    // The assertion returns under the fixed settings: never write through a missing interface.
    if (!EFI_ERROR(Status) && LoadedImage != NULL) {
      LoadedImage->Unload = DriverUnloadHandler;
    }
  }

  Status = ProcessModuleEntryPointList(ImageHandle, SystemTable);
  if (EFI_ERROR(Status)) {
    ProcessLibraryDestructorList(ImageHandle, SystemTable);
  }
  return Status;
}
