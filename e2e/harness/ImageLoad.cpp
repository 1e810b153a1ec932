#include "ImageLoad.h"
#include <Protocol/LoadedImage.h>
#include "ImageFile.h"

VOID LoadAndStartImageFile(EFI_HANDLE Application, EFI_SYSTEM_TABLE *SystemTable, CONST CHAR16 *Path,
                           IMAGE_LOAD_RESULT *Result) {
  EFI_BOOT_SERVICES *BootServices = SystemTable->BootServices;
  VOID *Buffer = NULL;
  UINTN Size = 0;
  EFI_HANDLE Image = NULL;
  EFI_LOADED_IMAGE_PROTOCOL *Loaded = NULL;
  UINTN ExitDataSize = 0;
  CHAR16 *ExitData = NULL;
  *Result = {};
  Result->Load.Value = EFI_NOT_STARTED;
  Result->Start.Value = EFI_NOT_STARTED;

  Result->Read = {TRUE, ReadImageFile(Application, SystemTable, Path, &Buffer, &Size)};
  if (EFI_ERROR(Result->Read.Value)) {
    return;
  }
  Result->FileSize = {TRUE, Size};
  Result->Load = {TRUE, BootServices->LoadImage(FALSE, Application, NULL, Buffer, Size, &Image)};
  BootServices->FreePool(Buffer);
  if (EFI_ERROR(Result->Load.Value)) {
    return;
  }
  if (!EFI_ERROR(BootServices->HandleProtocol(Image, &gEfiLoadedImageProtocolGuid, (VOID **)&Loaded))) {
    Result->ImageSize = {TRUE, Loaded->ImageSize};
    Result->CodeType = {TRUE, (UINT64)Loaded->ImageCodeType};
  }
  Result->Start = {TRUE, BootServices->StartImage(Image, &ExitDataSize, &ExitData)};
  if (ExitData != NULL) {
    BootServices->FreePool(ExitData);
  }
  if (!EFI_ERROR(Result->Start.Value)) {
    Result->Handle = Image;
  }
}
