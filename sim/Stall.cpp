// Stall: the only clock of the platform. Nothing waits in host time; the virtual clock
// moves by what the caller asked, so a test measures a driver's waits exactly.
#include "ServiceEntry.h"

namespace sim {

namespace {

EFI_STATUS EFIAPI SimStall(UINTN Microseconds) {
  return BootService("Stall", [&](Platform::Impl &S) {
    S.Owner.AdvanceTime(Microseconds);
    return EFI_SUCCESS;
  });
}

}  // namespace

void FillTimeServices(EFI_BOOT_SERVICES &Bs) { Bs.Stall = SimStall; }

}  // namespace sim
