#pragma once
#include "../SystemTable.h"

inline constexpr EFI_GUID gEfiLoadedImageProtocolGuid = {
    0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

#define EFI_LOADED_IMAGE_PROTOCOL_REVISION 0x1000

struct EFI_LOADED_IMAGE_PROTOCOL {
  UINT32 Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE *SystemTable;
  EFI_HANDLE DeviceHandle;
  EFI_DEVICE_PATH_PROTOCOL *FilePath;
  VOID *Reserved;
  UINT32 LoadOptionsSize;
  VOID *LoadOptions;
  VOID *ImageBase;
  UINT64 ImageSize;
  EFI_MEMORY_TYPE ImageCodeType;
  EFI_MEMORY_TYPE ImageDataType;
  EFI_STATUS(EFIAPI *Unload)(EFI_HANDLE ImageHandle);
};
static_assert(sizeof(EFI_LOADED_IMAGE_PROTOCOL) == 96, "loaded image layout");
static_assert(OFFSET_OF(EFI_LOADED_IMAGE_PROTOCOL, ImageBase) == 64, "loaded image layout");
static_assert(OFFSET_OF(EFI_LOADED_IMAGE_PROTOCOL, ImageCodeType) == 80, "loaded image layout");
static_assert(OFFSET_OF(EFI_LOADED_IMAGE_PROTOCOL, Unload) == 88, "loaded image layout");
EFI_PROTOCOL_GUID(EFI_LOADED_IMAGE_PROTOCOL, gEfiLoadedImageProtocolGuid);
