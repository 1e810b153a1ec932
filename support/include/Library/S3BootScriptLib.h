#pragma once
#include <Uefi.h>

EFI_STATUS S3BootScriptLibInitialize(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS S3BootScriptLibDeinitialize(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
