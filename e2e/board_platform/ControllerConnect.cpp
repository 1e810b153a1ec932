#include "ControllerConnect.h"
#include <Protocol/DevicePath.h>
#include <Protocol/SimpleTextInputEx.h>

namespace {

constexpr EFI_GUID kPciIoProtocolGuid = {0x4CF5B200, 0x68B8, 0x4CA5, {0x9E, 0xEC, 0xB2, 0x3E, 0x3F, 0x50, 0x02, 0x9A}};
// EISA_PNP_ID(0x0303): the compressed "PNP" prefix in the low word, the product above.
constexpr UINT32 kPs2KeyboardHid = 0x030341D0;
// A device path longer than this many nodes is treated as malformed.
constexpr UINTN kMaxPathNodes = 64;

BOOLEAN PathNamesPs2Keyboard(CONST EFI_DEVICE_PATH_PROTOCOL *Node) {
  for (UINTN Count = 0; Count < kMaxPathNodes; Count++) {
    UINTN Length = (UINTN)Node->Length[0] | ((UINTN)Node->Length[1] << 8);
    if (Node->Type == END_DEVICE_PATH_TYPE || Length < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
      return FALSE;
    }
    if (Node->Type == ACPI_DEVICE_PATH && Node->SubType == ACPI_DP && Length >= 8) {
      CONST UINT8 *Bytes = (CONST UINT8 *)Node;
      UINT32 Hid = (UINT32)Bytes[4] | ((UINT32)Bytes[5] << 8) | ((UINT32)Bytes[6] << 16) | ((UINT32)Bytes[7] << 24);
      if (Hid == kPs2KeyboardHid) {
        return TRUE;
      }
    }
    Node = (CONST EFI_DEVICE_PATH_PROTOCOL *)((CONST UINT8 *)Node + Length);
  }
  return FALSE;
}

}  // namespace

UINTN ConnectAllPciControllers(EFI_BOOT_SERVICES *BootServices) {
  UINTN Count = 0;
  EFI_HANDLE *Handles = NULL;
  if (EFI_ERROR(BootServices->LocateHandleBuffer(ByProtocol, &kPciIoProtocolGuid, NULL, &Count, &Handles))) {
    return 0;
  }
  for (UINTN Index = 0; Index < Count; Index++) {
    BootServices->ConnectController(Handles[Index], NULL, NULL, TRUE);
  }
  BootServices->FreePool(Handles);
  return Count;
}

UINTN RenewPs2Keyboards(EFI_BOOT_SERVICES *BootServices) {
  UINTN Count = 0;
  EFI_HANDLE *Handles = NULL;
  if (EFI_ERROR(
          BootServices->LocateHandleBuffer(ByProtocol, &gEfiSimpleTextInputExProtocolGuid, NULL, &Count, &Handles))) {
    return 0;
  }
  UINTN Renewed = 0;
  for (UINTN Index = 0; Index < Count; Index++) {
    EFI_DEVICE_PATH_PROTOCOL *Path = NULL;
    if (EFI_ERROR(BootServices->HandleProtocol(Handles[Index], &gEfiDevicePathProtocolGuid, (VOID **)&Path)) ||
        Path == NULL) {
      continue;
    }
    if (!PathNamesPs2Keyboard(Path)) {
      continue;
    }
    BootServices->DisconnectController(Handles[Index], NULL, NULL);
    if (!EFI_ERROR(BootServices->ConnectController(Handles[Index], NULL, NULL, TRUE))) {
      Renewed++;
    }
  }
  BootServices->FreePool(Handles);
  return Renewed;
}
