// RegisterProtocolNotify and the searches: LocateHandle, LocateHandleBuffer and
// LocateProtocol. A registration hands each new installation of its GUID out once, through
// LocateHandle(ByRegisterNotify) or LocateProtocol with the registration key.
#include "ServiceEntry.h"

#include <algorithm>
#include <cstring>

namespace sim {

EFI_STATUS Platform::Impl::RegisterProtocolNotify(const EFI_GUID *Guid, EFI_EVENT Event, VOID **Registration) {
  if (Guid == nullptr || Registration == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  EventRecord *Record = FindOpenEvent(Event);
  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto Entry = std::make_unique<NotifyRegistration>();
  Entry->Guid = *Guid;
  Entry->Event = Record;
  // The UEFI reading rests after the newest existing instance; EDK II rests at the list
  // head, so its first search returns the oldest existing instance.
  Entry->Position = Owner.Reading_ == NotifyReading::Uefi ? NextSerial - 1 : 0;
  *Registration = Entry.get();
  Registrations.push_back(std::move(Entry));
  return EFI_SUCCESS;
}

NotifyRegistration *Platform::Impl::FindRegistration(VOID *Key) const {
  for (const auto &Entry : Registrations) {
    if (Entry.get() == Key) {
      return Entry->Live ? Entry.get() : nullptr;
    }
  }
  return nullptr;
}

const ProtocolInstance *Platform::Impl::NextForRegistration(const NotifyRegistration &Registration) const {
  for (const auto &Instance : Instances) {
    if (Instance.Serial > Registration.Position && GuidEquals(Instance.Guid, Registration.Guid)) {
      return &Instance;
    }
  }
  return nullptr;
}

void Platform::Impl::NotifyInstalled(const EFI_GUID &Guid) {
  for (const auto &Entry : Registrations) {
    if (Entry->Live && GuidEquals(Entry->Guid, Guid)) {
      MarkSignaled(*Entry->Event);
    }
  }
}

EFI_STATUS Platform::Impl::CollectHandles(UINT32 Type, const EFI_GUID *Guid, VOID *Key,
                                          std::vector<EFI_HANDLE> &Out) const {
  switch (Type) {
    case AllHandles:
      for (const auto &Handle : Handles) {
        if (Handle->Live) {
          Out.push_back(Handle.get());
        }
      }
      return EFI_SUCCESS;
    case ByProtocol:
      if (Guid == nullptr) {
        return EFI_INVALID_PARAMETER;
      }
      for (const auto &Instance : Instances) {
        if (GuidEquals(Instance.Guid, *Guid)) {
          Out.push_back(Instance.Handle);
        }
      }
      return EFI_SUCCESS;
    case ByRegisterNotify: {
      NotifyRegistration *Registration = FindRegistration(Key);
      if (Registration == nullptr) {
        return EFI_INVALID_PARAMETER;
      }
      if (const ProtocolInstance *Next = NextForRegistration(*Registration)) {
        Out.push_back(Next->Handle);
      }
      return EFI_SUCCESS;
    }
    default:
      return EFI_INVALID_PARAMETER;
  }
}

namespace {

// What LocateHandle and LocateHandleBuffer share: the handles a search finds, or why there
// are none to hand out.
EFI_STATUS FindHandles(const Platform::Impl &State, UINT32 Type, const EFI_GUID *Guid, VOID *Key,
                       std::vector<EFI_HANDLE> &Found) {
  EFI_STATUS Status = State.CollectHandles(Type, Guid, Key, Found);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  return Found.empty() ? EFI_NOT_FOUND : EFI_SUCCESS;
}

}  // namespace

// Called only after a search handed a handle out, so a failed call keeps the position.
void Platform::Impl::AdvanceRegistration(VOID *Key, UINT32 Type, const std::vector<EFI_HANDLE> &Found) {
  if (Type != ByRegisterNotify || Found.empty()) {
    return;
  }
  NotifyRegistration *Registration = FindRegistration(Key);
  if (const ProtocolInstance *Next = NextForRegistration(*Registration)) {
    Registration->Position = Next->Serial;
  }
}

EFI_STATUS Platform::Impl::LocateHandle(UINT32 Type, const EFI_GUID *Guid, VOID *Key, UINTN *BufferSize,
                                        EFI_HANDLE *Buffer) {
  if (BufferSize == nullptr || (*BufferSize > 0 && Buffer == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_HANDLE> Found;
  EFI_STATUS Status = FindHandles(*this, Type, Guid, Key, Found);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  const UINTN Needed = Found.size() * sizeof(EFI_HANDLE);
  if (*BufferSize < Needed) {
    *BufferSize = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  std::memcpy(Buffer, Found.data(), Needed);
  *BufferSize = Needed;
  AdvanceRegistration(Key, Type, Found);
  return EFI_SUCCESS;
}

EFI_STATUS Platform::Impl::LocateHandleBuffer(UINT32 Type, const EFI_GUID *Guid, VOID *Key, UINTN *Count,
                                              EFI_HANDLE **Buffer) {
  if (Count == nullptr || Buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Count = 0;
  *Buffer = nullptr;
  std::vector<EFI_HANDLE> Found;
  EFI_STATUS Status = FindHandles(*this, Type, Guid, Key, Found);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  VOID *Memory = nullptr;
  Status = AllocatePool(EfiBootServicesData, Found.size() * sizeof(EFI_HANDLE), &Memory);
  if (EFI_ERROR(Status)) {
    return EFI_OUT_OF_RESOURCES;
  }
  std::memcpy(Memory, Found.data(), Found.size() * sizeof(EFI_HANDLE));
  *Buffer = static_cast<EFI_HANDLE *>(Memory);
  *Count = Found.size();
  AdvanceRegistration(Key, Type, Found);
  return EFI_SUCCESS;
}

EFI_STATUS Platform::Impl::LocateProtocol(const EFI_GUID *Guid, VOID *Key, VOID **Interface) {
  if (Interface == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Interface = nullptr;
  if (Guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Key == nullptr) {
    for (const auto &Instance : Instances) {
      if (GuidEquals(Instance.Guid, *Guid)) {
        *Interface = Instance.Interface;
        return EFI_SUCCESS;
      }
    }
    return EFI_NOT_FOUND;
  }
  NotifyRegistration *Registration = FindRegistration(Key);
  if (Registration == nullptr || !GuidEquals(Registration->Guid, *Guid)) {
    return EFI_INVALID_PARAMETER;
  }
  const ProtocolInstance *Next = NextForRegistration(*Registration);
  if (Next == nullptr) {
    return EFI_NOT_FOUND;
  }
  Registration->Position = Next->Serial;
  *Interface = Next->Interface;
  return EFI_SUCCESS;
}

}  // namespace sim
