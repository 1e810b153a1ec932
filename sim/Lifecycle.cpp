// The end of boot services and the switch to virtual addresses, with their event groups.
#include "ServiceEntry.h"

namespace sim {

namespace {
constexpr UINTN kOptionalPointer = 0x00000001;  // EFI_OPTIONAL_PTR
}

void Platform::Impl::ExitBootServices() {
  if (Owner.Ended) {
    Fail("ExitBootServices called twice");
    return;
  }
  // The group's notifications still run in the boot-services phase, but without memory
  // services: the caller has read the memory map it hands over.
  InExitBootServicesNotify = true;
  Owner.SignalGroup(gEfiEventExitBootServicesGuid);
  InExitBootServicesNotify = false;
  Owner.Ended = true;
}

void Platform::Impl::SetVirtualAddressMap(INT64 Offset) {
  if (VirtualMapSet) {
    Fail("SetVirtualAddressMap called twice");
    return;
  }
  VirtualOffset = Offset;
  InVirtualAddressChange = true;
  Owner.SignalGroup(gEfiEventVirtualAddressChangeGuid);
  InVirtualAddressChange = false;
  VirtualMapSet = true;
}

EFI_STATUS Platform::Impl::ConvertPointer(UINTN Disposition, VOID **Address) {
  if (!InVirtualAddressChange) {
    Fail("ConvertPointer outside the virtual-address-change notifications");
    return EFI_NOT_FOUND;
  }
  if (Address == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (*Address == nullptr) {
    return (Disposition & kOptionalPointer) != 0 ? EFI_SUCCESS : EFI_INVALID_PARAMETER;
  }
  const UINTN Original = reinterpret_cast<UINTN>(*Address);
  Owner.Converted.push_back(Original);
  *Address = reinterpret_cast<VOID *>(Original + static_cast<UINTN>(VirtualOffset));
  return EFI_SUCCESS;
}

void Platform::ExitBootServices() { State_->ExitBootServices(); }

void Platform::SetVirtualAddressMap(INT64 Offset) { State_->SetVirtualAddressMap(Offset); }

namespace {

EFI_STATUS EFIAPI SimExitBootServices(EFI_HANDLE ImageHandle, UINTN MapKey) {
  return BootService("ExitBootServices", [&](Platform::Impl &S) {
    if (S.FindLiveHandle(ImageHandle) == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    S.ExitBootServices();
    return EFI_SUCCESS;
  });
}

}  // namespace

void FillLifecycleServices(EFI_BOOT_SERVICES &Bs) { Bs.ExitBootServices = SimExitBootServices; }

}  // namespace sim
