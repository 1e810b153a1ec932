// The runtime services the drivers use: variables through the store, ConvertPointer and
// SetVirtualAddressMap. They stay callable after ExitBootServices.
#include "ServiceEntry.h"

namespace sim {

namespace {

EFI_STATUS EFIAPI SimGetVariable(CONST CHAR16 *Name, CONST EFI_GUID *Guid, UINT32 *Attributes, UINTN *DataSize,
                                 VOID *Data) {
  return RuntimeService("GetVariable", [&](Platform::Impl &S) {
    return S.Owner.Variables().Get(Name, Guid, Attributes, DataSize, Data, S.Owner.BootServicesEnded());
  });
}

EFI_STATUS EFIAPI SimSetVariable(CONST CHAR16 *Name, CONST EFI_GUID *Guid, UINT32 Attributes, UINTN DataSize,
                                 VOID *Data) {
  return RuntimeService("SetVariable", [&](Platform::Impl &S) {
    return S.Owner.Variables().Set(Name, Guid, Attributes, DataSize, Data, S.Owner.BootServicesEnded());
  });
}

EFI_STATUS EFIAPI SimConvertPointer(UINTN Disposition, VOID **Address) {
  return RuntimeService("ConvertPointer", [&](Platform::Impl &S) { return S.ConvertPointer(Disposition, Address); });
}

// The OS calls this once, after ExitBootServices; the map itself is not modelled, the
// conversion offset stays zero.
EFI_STATUS EFIAPI SimSetVirtualAddressMap(UINTN MapSize, UINTN DescriptorSize, UINT32 Version,
                                          EFI_MEMORY_DESCRIPTOR *Map) {
  return RuntimeService("SetVirtualAddressMap", [&](Platform::Impl &S) {
    if (!S.Owner.BootServicesEnded() || S.VirtualMapSet) {
      return EFI_UNSUPPORTED;
    }
    S.SetVirtualAddressMap(0);
    return EFI_SUCCESS;
  });
}

}  // namespace

void FillRuntimeServices(EFI_RUNTIME_SERVICES &Rt) {
  Rt.GetVariable = SimGetVariable;
  Rt.SetVariable = SimSetVariable;
  Rt.ConvertPointer = SimConvertPointer;
  Rt.SetVirtualAddressMap = SimSetVirtualAddressMap;
}

}  // namespace sim
