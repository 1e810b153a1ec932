// Reads a whole file from the volume the harness itself was loaded from.
#pragma once
#include <Uefi.h>

// Larger files are refused: the drivers are tens of kilobytes.
#define IMAGE_FILE_MAX_SIZE 0x4000000ULL

// On success *Buffer is boot-services pool of *Size bytes that the caller frees.
EFI_STATUS ReadImageFile(EFI_HANDLE HarnessImage, EFI_SYSTEM_TABLE *SystemTable, CONST CHAR16 *Path, VOID **Buffer,
                         UINTN *Size);
