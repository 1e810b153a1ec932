// Finds the images the DXE dispatcher loaded from a firmware volume, by the name of the
// file they came from, and reports how each one was loaded.
#pragma once
#include <Uefi.h>

struct DISPATCHED_IMAGE {
  CONST CHAR8 *Name;
  CONST EFI_GUID *FileGuid;
  // Filled by FindDispatchedImage.
  EFI_HANDLE Handle;
  UINTN Count;
  EFI_HANDLE ParentHandle;
  BOOLEAN FromFirmwareVolume;
  UINT64 ImageSize;
  UINT64 CodeType;
  UINT64 Base;
};

// Looks through every loaded image for one whose file path is the firmware-volume file
// *Image->FileGuid; Count says how many there are (the last one found is kept).
VOID FindDispatchedImage(EFI_BOOT_SERVICES *BootServices, DISPATCHED_IMAGE *Image);
// "BOARD IMAGE name=.. count=.. fv=.. sameparent=.. imagesize=.. codetype=.. base=..":
// sameparent says whether the image has the parent Reference has, the DXE core when
// Reference is a driver the dispatcher started.
VOID ReportDispatchedImage(EFI_BOOT_SERVICES *BootServices, DISPATCHED_IMAGE *Image, EFI_HANDLE Reference);
