// The handle and protocol database: install, reinstall, uninstall and lookups. Every
// installation signals the events registered for its GUID; the notifications run before
// the call returns when the caller's TPL is below theirs, as a firmware lock release does.
#include "ServiceEntry.h"

#include <algorithm>

namespace sim {

HandleRecord *Platform::Impl::FindLiveHandle(EFI_HANDLE Handle) const {
  if (Handle == nullptr) {
    return nullptr;
  }
  for (const auto &Record : Handles) {
    if (Record.get() == Handle) {
      return Record->Live ? Record.get() : nullptr;
    }
  }
  return nullptr;
}

HandleRecord *Platform::Impl::NewHandle() {
  auto Record = std::make_unique<HandleRecord>();
  Record->Id = NextHandleId++;
  Handles.push_back(std::move(Record));
  return Handles.back().get();
}

const ProtocolInstance *Platform::Impl::FindInstance(EFI_HANDLE Handle, const EFI_GUID &Guid) const {
  for (const auto &Instance : Instances) {
    if (Instance.Handle == Handle && GuidEquals(Instance.Guid, Guid)) {
      return &Instance;
    }
  }
  return nullptr;
}

EFI_STATUS Platform::Impl::Install(EFI_HANDLE *Handle, const EFI_GUID *Guid, VOID *Interface) {
  if (Handle == nullptr || Guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  HandleRecord *Target = nullptr;
  if (*Handle != nullptr) {
    Target = FindLiveHandle(*Handle);
    if (Target == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    if (FindInstance(Target, *Guid) != nullptr) {
      return EFI_INVALID_PARAMETER;
    }
  } else {
    Target = NewHandle();
  }
  Instances.push_back(ProtocolInstance{*Guid, Target, Interface, NextSerial++});
  *Handle = Target;
  NotifyInstalled(*Guid);
  DispatchPending();
  return EFI_SUCCESS;
}

EFI_STATUS Platform::Impl::Uninstall(EFI_HANDLE Handle, const EFI_GUID *Guid, VOID *Interface) {
  HandleRecord *Target = FindLiveHandle(Handle);
  if (Target == nullptr || Guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto Found = std::find_if(Instances.begin(), Instances.end(), [&](const ProtocolInstance &Instance) {
    return Instance.Handle == Target && GuidEquals(Instance.Guid, *Guid) && Instance.Interface == Interface;
  });
  if (Found == Instances.end()) {
    return EFI_NOT_FOUND;
  }
  // Registration positions are serials, so one resting on this instance simply moves on.
  Instances.erase(Found);
  bool Remaining =
      std::any_of(Instances.begin(), Instances.end(), [&](const ProtocolInstance &I) { return I.Handle == Target; });
  if (!Remaining) {
    Target->Live = false;  // the firmware frees a handle with its last protocol
  }
  return EFI_SUCCESS;
}

EFI_STATUS Platform::Impl::Reinstall(EFI_HANDLE Handle, const EFI_GUID *Guid, VOID *Old, VOID *New) {
  HandleRecord *Target = FindLiveHandle(Handle);
  if (Target == nullptr || Guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto Found = std::find_if(Instances.begin(), Instances.end(), [&](const ProtocolInstance &Instance) {
    return Instance.Handle == Target && GuidEquals(Instance.Guid, *Guid) && Instance.Interface == Old;
  });
  if (Found == Instances.end()) {
    return EFI_NOT_FOUND;
  }
  // The reinstalled interface goes to the end of the protocol's list and counts as new.
  Instances.erase(Found);
  Instances.push_back(ProtocolInstance{*Guid, Target, New, NextSerial++});
  NotifyInstalled(*Guid);
  DispatchPending();
  return EFI_SUCCESS;
}

EFI_STATUS Platform::Impl::HandleProtocol(EFI_HANDLE Handle, const EFI_GUID *Guid, VOID **Interface) {
  if (Interface == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Interface = nullptr;
  if (FindLiveHandle(Handle) == nullptr || Guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const ProtocolInstance *Instance = FindInstance(Handle, *Guid);
  if (Instance == nullptr) {
    return EFI_UNSUPPORTED;
  }
  *Interface = Instance->Interface;
  return EFI_SUCCESS;
}

EFI_STATUS Platform::InstallProtocol(EFI_HANDLE *Handle, const EFI_GUID &Guid, VOID *Interface) {
  return State_->Install(Handle, &Guid, Interface);
}

EFI_STATUS Platform::UninstallProtocol(EFI_HANDLE Handle, const EFI_GUID &Guid, VOID *Interface) {
  return State_->Uninstall(Handle, &Guid, Interface);
}

EFI_STATUS Platform::ReinstallProtocol(EFI_HANDLE Handle, const EFI_GUID &Guid, VOID *Old, VOID *New) {
  return State_->Reinstall(Handle, &Guid, Old, New);
}

std::vector<EFI_HANDLE> Platform::HandlesWith(const EFI_GUID &Guid) const {
  std::vector<EFI_HANDLE> Out;
  State_->CollectHandles(ByProtocol, &Guid, nullptr, Out);
  return Out;
}

VOID *Platform::InterfaceOn(EFI_HANDLE Handle, const EFI_GUID &Guid) const {
  const ProtocolInstance *Instance = State_->FindInstance(Handle, Guid);
  return Instance != nullptr ? Instance->Interface : nullptr;
}

namespace {

EFI_STATUS EFIAPI SimInstallProtocolInterface(EFI_HANDLE *Handle, CONST EFI_GUID *Guid, EFI_INTERFACE_TYPE Type,
                                              VOID *Interface) {
  return BootService("InstallProtocolInterface", [&](Platform::Impl &S) {
    return RawEnum(Type) != EFI_NATIVE_INTERFACE ? EFI_INVALID_PARAMETER : S.Install(Handle, Guid, Interface);
  });
}

EFI_STATUS EFIAPI SimReinstallProtocolInterface(EFI_HANDLE Handle, CONST EFI_GUID *Guid, VOID *Old, VOID *New) {
  return BootService("ReinstallProtocolInterface",
                     [&](Platform::Impl &S) { return S.Reinstall(Handle, Guid, Old, New); });
}

EFI_STATUS EFIAPI SimUninstallProtocolInterface(EFI_HANDLE Handle, CONST EFI_GUID *Guid, VOID *Interface) {
  return BootService("UninstallProtocolInterface",
                     [&](Platform::Impl &S) { return S.Uninstall(Handle, Guid, Interface); });
}

EFI_STATUS EFIAPI SimHandleProtocol(EFI_HANDLE Handle, CONST EFI_GUID *Guid, VOID **Interface) {
  return BootService("HandleProtocol", [&](Platform::Impl &S) { return S.HandleProtocol(Handle, Guid, Interface); });
}

// Opening is modelled as a lookup: the drivers here only read interfaces, and no
// driver-binding agent keeps protocols open.
EFI_STATUS EFIAPI SimOpenProtocol(EFI_HANDLE Handle, CONST EFI_GUID *Guid, VOID **Interface, EFI_HANDLE Agent,
                                  EFI_HANDLE Controller, UINT32 Attributes) {
  constexpr UINT32 TestProtocol = 0x00000004;
  return BootService("OpenProtocol", [&](Platform::Impl &S) -> EFI_STATUS {
    if (Attributes == TestProtocol) {
      if (S.FindLiveHandle(Handle) == nullptr || Guid == nullptr) {
        return EFI_INVALID_PARAMETER;
      }
      return S.FindInstance(Handle, *Guid) != nullptr ? EFI_SUCCESS : EFI_UNSUPPORTED;
    }
    return S.HandleProtocol(Handle, Guid, Interface);
  });
}

EFI_STATUS EFIAPI SimCloseProtocol(EFI_HANDLE Handle, CONST EFI_GUID *Guid, EFI_HANDLE Agent, EFI_HANDLE Controller) {
  return BootService("CloseProtocol", [&](Platform::Impl &S) -> EFI_STATUS {
    if (S.FindLiveHandle(Handle) == nullptr || Guid == nullptr || Agent == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    return S.FindInstance(Handle, *Guid) != nullptr ? EFI_SUCCESS : EFI_NOT_FOUND;
  });
}

EFI_STATUS EFIAPI SimLocateHandle(EFI_LOCATE_SEARCH_TYPE Type, CONST EFI_GUID *Guid, VOID *Key, UINTN *BufferSize,
                                  EFI_HANDLE *Buffer) {
  return BootService("LocateHandle",
                     [&](Platform::Impl &S) { return S.LocateHandle(RawEnum(Type), Guid, Key, BufferSize, Buffer); });
}

EFI_STATUS EFIAPI SimLocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE Type, CONST EFI_GUID *Guid, VOID *Key, UINTN *Count,
                                        EFI_HANDLE **Buffer) {
  return BootService("LocateHandleBuffer",
                     [&](Platform::Impl &S) { return S.LocateHandleBuffer(RawEnum(Type), Guid, Key, Count, Buffer); });
}

EFI_STATUS EFIAPI SimLocateProtocol(CONST EFI_GUID *Guid, VOID *Registration, VOID **Interface) {
  return BootService("LocateProtocol",
                     [&](Platform::Impl &S) { return S.LocateProtocol(Guid, Registration, Interface); });
}

EFI_STATUS EFIAPI SimRegisterProtocolNotify(CONST EFI_GUID *Guid, EFI_EVENT Event, VOID **Registration) {
  return BootService("RegisterProtocolNotify",
                     [&](Platform::Impl &S) { return S.RegisterProtocolNotify(Guid, Event, Registration); });
}

}  // namespace

void FillProtocolServices(EFI_BOOT_SERVICES &Bs) {
  Bs.InstallProtocolInterface = SimInstallProtocolInterface;
  Bs.ReinstallProtocolInterface = SimReinstallProtocolInterface;
  Bs.UninstallProtocolInterface = SimUninstallProtocolInterface;
  Bs.HandleProtocol = SimHandleProtocol;
  Bs.OpenProtocol = SimOpenProtocol;
  Bs.CloseProtocol = SimCloseProtocol;
  Bs.LocateHandle = SimLocateHandle;
  Bs.LocateHandleBuffer = SimLocateHandleBuffer;
  Bs.LocateProtocol = SimLocateProtocol;
  Bs.RegisterProtocolNotify = SimRegisterProtocolNotify;
}

}  // namespace sim
