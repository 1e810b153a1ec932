// What the build generates for this module: its identity, its library constructor and
// destructor lists and its start routine.
#include <Uefi.h>
#include <Library/DebugLib.h>
#include <Library/DebugPrintErrorLevelLib.h>
#include <Library/HobLib.h>
#include <Library/ModuleEntryPoint.h>
#include <Library/PcdLib.h>
#include <Library/S3BootScriptLib.h>
#include <Library/TimerLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

#include "Roster.h"

const UINT32 _gUefiDriverRevision = 0;
const UINT8 _gDriverUnloadImageCount = 0;

const EFI_GUID gEfiCallerIdGuid = {0xB0F026CB, 0x17D3, 0x4C94, {0xA5, 0x19, 0x81, 0x4A, 0x5E, 0x83, 0x28, 0x40}};
const CHAR8 *const gEfiCallerBaseName = "Roster";

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
  Status = DxeTscTimerLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = S3BootScriptLibInitialize(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
}

VOID ProcessLibraryDestructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Status;

  Status = S3BootScriptLibDeinitialize(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = DebugPrintErrorLevelLibDestructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
}

EFI_STATUS ProcessModuleEntryPointList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  return InventoryStart(ImageHandle, SystemTable);
}

// The driver installs no unload handler; this list exists for the entry-point library.
EFI_STATUS ProcessModuleUnloadList(EFI_HANDLE ImageHandle) { return EFI_SUCCESS; }
