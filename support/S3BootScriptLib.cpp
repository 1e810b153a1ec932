// Neither driver saves boot-script entries, so there is no script table to create at
// start or to release at unload: both library hooks only report success.
#include <Uefi.h>
#include <Library/S3BootScriptLib.h>

EFI_STATUS S3BootScriptLibInitialize(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) { return EFI_SUCCESS; }

EFI_STATUS S3BootScriptLibDeinitialize(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) { return EFI_SUCCESS; }
