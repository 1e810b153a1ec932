// What the build generates for this driver: its identity, library lists and start routine.
#include <Uefi.h>
#include <Library/DebugLib.h>
#include <Library/MmServicesTableLib.h>
#include <Library/ModuleEntryPoint.h>
#include <Library/PcdLib.h>
#include <Library/UefiBootServicesTableLib.h>

#include "SsvsHandler.h"

const UINT32 _gUefiDriverRevision = 0;
// No unload handler: an MM image stays for the whole boot and beyond.
const UINT8 _gDriverUnloadImageCount = 0;

const EFI_GUID gEfiCallerIdGuid = {0xA85FF7B5, 0xB41D, 0x4381, {0xB0, 0xBE, 0xE8, 0x12, 0x12, 0x2F, 0xFC, 0xEE}};
const CHAR8 *const gEfiCallerBaseName = "SsvsHandler";

// A failing constructor is reported and the chain goes on, as the firmware's lists do.
VOID ProcessLibraryConstructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Status;

  Status = UefiBootServicesTableLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = SmmServicesTableLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = PcdLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
}

VOID ProcessLibraryDestructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Status;

  Status = PcdLibDestructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
}

EFI_STATUS ProcessModuleEntryPointList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  return SsvsHandlerStart(ImageHandle, SystemTable);
}

EFI_STATUS ProcessModuleUnloadList(EFI_HANDLE ImageHandle) { return EFI_SUCCESS; }
