#include "PlatformIdentity.h"

namespace sim {

PlatformIdentity::PlatformIdentity(Platform &P, UINT16 Word4, UINT16 Word6, UINT16 Word8, UINT16 Word10) {
  Interface_.Revision = 1;
  Interface_.Word4 = Word4;
  Interface_.Word6 = Word6;
  Interface_.Word8 = Word8;
  Interface_.Word10 = Word10;
  if (EFI_ERROR(P.InstallProtocol(&Handle_, gPlatformIdentityProtocolGuid, &Interface_))) {
    Fail("platform identity install failed");
  }
}

EFI_HANDLE InstallInventoryTrigger(Platform &P) {
  static UINT8 TriggerInterface;  // never read by its consumer
  EFI_HANDLE Handle = nullptr;
  if (EFI_ERROR(P.InstallProtocol(&Handle, gInventoryTriggerProtocolGuid, &TriggerInterface))) {
    Fail("inventory trigger install failed");
  }
  return Handle;
}

}  // namespace sim
