// What the build generates for this module: its identity, its library constructor and
// destructor lists and its start routine.
#include <Uefi.h>
#include <Library/DebugLib.h>
#include <Library/DebugPrintErrorLevelLib.h>
#include <Library/HobLib.h>
#include <Library/ModuleEntryPoint.h>
#include <Library/PcdLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

#include "KcsTransport.h"

const UINT32 _gUefiDriverRevision = 0;
const UINT8 _gDriverUnloadImageCount = 0;

const EFI_GUID gEfiCallerIdGuid = {0x3CD1F92F, 0x155D, 0x473E, {0x93, 0xCE, 0x87, 0x98, 0xD9, 0xCF, 0xE9, 0xA1}};
const CHAR8 *const gEfiCallerBaseName = "KcsTransport";

// Each library depends only on those before it; a failing constructor is reported and the
// chain goes on, as the generated list does.
VOID ProcessLibraryConstructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Status;

  Status = UefiRuntimeServicesTableLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = UefiBootServicesTableLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = PcdLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = HobLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = DebugPrintErrorLevelLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
}

VOID ProcessLibraryDestructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Status;

  Status = DebugPrintErrorLevelLibDestructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
}

EFI_STATUS ProcessModuleEntryPointList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  return KcsTransportStart(ImageHandle, SystemTable);
}

// The driver installs no unload handler; this list exists for the entry-point library.
EFI_STATUS ProcessModuleUnloadList(EFI_HANDLE ImageHandle) { return EFI_SUCCESS; }
