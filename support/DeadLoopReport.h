// The report CpuDeadLoop makes before it spins: its caller's address and the image it lies in.
#pragma once
#include <Uefi.h>

// Image headers are searched at most this far below the address, at 16-byte steps.
inline constexpr UINTN kDeadLoopSearchWindow = 0x200000;
inline constexpr UINTN kDeadLoopSearchStep = 16;
inline constexpr UINTN kDeadLoopNameBufferSize = 256;

VOID ReportCallerModule(UINTN Address);
// "Drv.efi" from an image whose CodeView path ends in "...\Drv.pdb"; EFI_NOT_FOUND when the
// image names no module that fits.
EFI_STATUS GetModuleNameFromPdb(VOID *ImageBase, CHAR8 *NameBuffer, UINTN BufferSize);
