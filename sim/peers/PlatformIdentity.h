// Platform components the inventory only needs to find: the identity protocol with its
// four words, and the trigger whose installation starts the inventory.
#pragma once

#include <Protocol/InventoryTrigger.h>
#include <Protocol/PlatformIdentity.h>
#include <sim/Platform.h>

namespace sim {

// The platform identity protocol: its interface holds the four words the inventory reads.
class PlatformIdentity : public Peer {
 public:
  PlatformIdentity(Platform &P, UINT16 Word4, UINT16 Word6, UINT16 Word8, UINT16 Word10);
  const PLATFORM_IDENTITY_PROTOCOL &Interface() const { return Interface_; }

 private:
  PLATFORM_IDENTITY_PROTOCOL Interface_{};
  EFI_HANDLE Handle_ = nullptr;
};

// Installs the inventory trigger protocol on a new handle (each call a new installation);
// registered notifications run before this returns.
EFI_HANDLE InstallInventoryTrigger(Platform &P);

}  // namespace sim
