// What the build generates for this driver: its identity, library lists and start routine.
#include <Uefi.h>
#include <Library/DebugLib.h>
#include <Library/DebugPrintErrorLevelLib.h>
#include <Library/HobLib.h>
#include <Library/ModuleEntryPoint.h>
#include <Library/PcdLib.h>
#include <Library/ReportStatusCodeLib.h>
#include <Library/S3BootScriptLib.h>
#include <Library/TimerLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

#include "DxeVariableLib/DxeVariableLib.h"
#include "Hotlatch.h"
#include "TeskRegistrationLib/TeskRegistrationLib.h"

const UINT32 _gUefiDriverRevision = 0;
// No unload handler: the image stays for the whole boot.
const UINT8 _gDriverUnloadImageCount = 0;

const EFI_GUID gEfiCallerIdGuid = {0x9B956440, 0x804B, 0x4A01, {0xA5, 0xA9, 0xF9, 0x05, 0xFE, 0x79, 0x0A, 0x8D}};
const CHAR8 *const gEfiCallerBaseName = "Hotlatch";

// A failing constructor is reported and the chain goes on, as the firmware's lists do.
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
  Status = UefiRuntimeLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = RuntimeReportStatusCodeLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = DxeTscTimerLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = S3BootScriptLibInitialize(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = TeskRegistrationLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = DxeVariableLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
}

VOID ProcessLibraryDestructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Status;

  Status = DxeVariableLibDestructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = TeskRegistrationLibDestructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = S3BootScriptLibDeinitialize(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = RuntimeReportStatusCodeLibDestructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = UefiRuntimeLibDestructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = DebugPrintErrorLevelLibDestructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = PcdLibDestructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
}

EFI_STATUS ProcessModuleEntryPointList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  return OemDebugEntry(ImageHandle, SystemTable);
}

EFI_STATUS ProcessModuleUnloadList(EFI_HANDLE ImageHandle) { return EFI_SUCCESS; }
