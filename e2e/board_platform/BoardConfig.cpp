#include "BoardConfig.h"

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
  if (Config->Transport != BOARD_TRANSPORT_RECORDER && Config->Transport != BOARD_TRANSPORT_PLATFORM) {
    Status = EFI_INVALID_PARAMETER;
  }
  if (Config->KeyWaitSeconds == 0 || Config->KeyWaitSeconds > 600) {
    Status = EFI_INVALID_PARAMETER;
  }
  return Status;
}
