#include "BoardConfig.h"
#include "ImageFile.h"

EFI_STATUS ParseBoardConfig(CONST VOID *Buffer, UINTN Size, BOARD_CONFIG *Config) {
  if (Size != sizeof(BOARD_CONFIG)) {
    return EFI_BAD_BUFFER_SIZE;
  }
  EFI_STATUS Status = EFI_SUCCESS;
  CONST UINT8 *From = (CONST UINT8 *)Buffer;
  UINT8 *To = (UINT8 *)Config;
  for (UINTN Index = 0; Index < sizeof(BOARD_CONFIG); Index++) {
    To[Index] = From[Index];
  }
  CONST CHAR8 *Expected = BOARD_CONFIG_SIGNATURE;
  for (UINTN Index = 0; Index < sizeof(Config->Signature); Index++) {
    if (Config->Signature[Index] != Expected[Index]) {
      Status = EFI_INCOMPATIBLE_VERSION;
    }
  }
  if (Config->KeyWaitSeconds == 0 || Config->KeyWaitSeconds > 600) {
    Status = EFI_INVALID_PARAMETER;
  }
  return Status;
}

EFI_STATUS ReadBoardConfig(EFI_HANDLE HarnessImage, EFI_SYSTEM_TABLE *SystemTable, BOARD_CONFIG *Config) {
  VOID *Buffer = NULL;
  UINTN Size = 0;
  EFI_STATUS Status = ReadImageFile(HarnessImage, SystemTable, u"\\BOARD.CFG", &Buffer, &Size);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Status = ParseBoardConfig(Buffer, Size, Config);
  SystemTable->BootServices->FreePool(Buffer);
  return Status;
}
