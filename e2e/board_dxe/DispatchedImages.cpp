#include "DispatchedImages.h"
#include "BoardOutput.h"
#include <Protocol/DevicePath.h>
#include <Protocol/LoadedImage.h>

namespace {

// The firmware-volume protocol the dispatcher reads a driver's file through.
constexpr EFI_GUID kFirmwareVolume2ProtocolGuid = {
    0x220E73B6, 0x6BDB, 0x4413, {0x84, 0x05, 0xB9, 0x74, 0xB1, 0x08, 0x61, 0x9A}};

BOOLEAN IsFvFile(CONST EFI_DEVICE_PATH_PROTOCOL *Path, CONST EFI_GUID *FileGuid) {
  if (Path == NULL) {
    return FALSE;
  }
  CONST UINT8 *Node = (CONST UINT8 *)Path;
  UINTN Length = (UINTN)Node[2] | ((UINTN)Node[3] << 8);
  if (Node[0] != MEDIA_DEVICE_PATH || Node[1] != MEDIA_PIWG_FW_FILE_DP || Length != FV_FILE_DEVICE_PATH_LENGTH) {
    return FALSE;
  }
  CONST UINT8 *Name = Node + FV_FILE_DEVICE_PATH_NAME_OFFSET;
  CONST UINT8 *Wanted = (CONST UINT8 *)FileGuid;
  for (UINTN Index = 0; Index < sizeof(EFI_GUID); Index++) {
    if (Name[Index] != Wanted[Index]) {
      return FALSE;
    }
  }
  return TRUE;
}

}  // namespace

VOID FindDispatchedImage(EFI_BOOT_SERVICES *BootServices, DISPATCHED_IMAGE *Image) {
  UINTN Count = 0;
  EFI_HANDLE *Handles = NULL;
  Image->Handle = NULL;
  Image->Count = 0;
  if (EFI_ERROR(BootServices->LocateHandleBuffer(ByProtocol, &gEfiLoadedImageProtocolGuid, NULL, &Count, &Handles))) {
    return;
  }
  for (UINTN Index = 0; Index < Count; Index++) {
    EFI_LOADED_IMAGE_PROTOCOL *Loaded = NULL;
    if (EFI_ERROR(BootServices->HandleProtocol(Handles[Index], &gEfiLoadedImageProtocolGuid, (VOID **)&Loaded)) ||
        Loaded == NULL || !IsFvFile(Loaded->FilePath, Image->FileGuid)) {
      continue;
    }
    VOID *Volume = NULL;
    Image->Count++;
    Image->Handle = Handles[Index];
    Image->ParentHandle = Loaded->ParentHandle;
    Image->FromFirmwareVolume =
        Loaded->DeviceHandle != NULL &&
        !EFI_ERROR(BootServices->HandleProtocol(Loaded->DeviceHandle, &kFirmwareVolume2ProtocolGuid, &Volume));
    Image->ImageSize = Loaded->ImageSize;
    Image->CodeType = (UINT64)Loaded->ImageCodeType;
    Image->Base = (UINT64)(UINTN)Loaded->ImageBase;
  }
  BootServices->FreePool(Handles);
}

VOID ReportDispatchedImage(EFI_BOOT_SERVICES *BootServices, DISPATCHED_IMAGE *Image, EFI_HANDLE Reference) {
  EFI_LOADED_IMAGE_PROTOCOL *Own = NULL;
  EFI_HANDLE Parent = NULL;
  if (!EFI_ERROR(BootServices->HandleProtocol(Reference, &gEfiLoadedImageProtocolGuid, (VOID **)&Own)) && Own != NULL) {
    Parent = Own->ParentHandle;
  }
  FindDispatchedImage(BootServices, Image);
  BoardLineStart("BOARD IMAGE name=");
  BoardAppendText(Image->Name);
  BoardAppendField("count", Image->Count);
  if (Image->Count != 0) {
    BoardAppendField("fv", Image->FromFirmwareVolume);
    BoardAppendField("sameparent", Parent != NULL && Image->ParentHandle == Parent);
    BoardAppendField("imagesize", Image->ImageSize);
    BoardAppendField("codetype", Image->CodeType);
    BoardAppendField("base", Image->Base);
  }
  BoardLineEnd();
}
