// Events: creation with UEFI's parameter rules, event groups, signalling, closing.
// Event records live as long as the platform, so a closed event is recognised (and a
// double close reported) instead of being read after free.
#include "ServiceEntry.h"

#include <algorithm>

namespace sim {

namespace {

bool IsValidType(UINT32 Type) {
  switch (Type) {
    case 0:
    case EVT_TIMER:
    case EVT_NOTIFY_WAIT:
    case EVT_NOTIFY_SIGNAL:
    case EVT_SIGNAL_EXIT_BOOT_SERVICES:
    case EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE:
    case EVT_TIMER | EVT_NOTIFY_WAIT:
    case EVT_TIMER | EVT_NOTIFY_SIGNAL:
    case EVT_RUNTIME:
    case EVT_RUNTIME | EVT_NOTIFY_WAIT:
    case EVT_RUNTIME | EVT_NOTIFY_SIGNAL:
    case EVT_RUNTIME | EVT_TIMER | EVT_NOTIFY_WAIT:
    case EVT_RUNTIME | EVT_TIMER | EVT_NOTIFY_SIGNAL:
      return true;
    default:
      return false;
  }
}

}  // namespace

EventRecord *Platform::Impl::FindOpenEvent(EFI_EVENT Event) const {
  for (const auto &Record : Events) {
    if (Record.get() == Event) {
      return Record->Closed ? nullptr : Record.get();
    }
  }
  return nullptr;
}

EFI_STATUS Platform::Impl::CreateEvent(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY Notify, VOID *Context,
                                       const EFI_GUID *Group, EFI_EVENT *Event) {
  if (Event == nullptr || !IsValidType(Type)) {
    return EFI_INVALID_PARAMETER;
  }
  // The two special types are event groups in disguise; with an explicit group they clash.
  const EFI_GUID *EffectiveGroup = Group;
  if (Type == EVT_SIGNAL_EXIT_BOOT_SERVICES || Type == EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE) {
    if (Group != nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    EffectiveGroup =
        Type == EVT_SIGNAL_EXIT_BOOT_SERVICES ? &gEfiEventExitBootServicesGuid : &gEfiEventVirtualAddressChangeGuid;
  }
  if ((Type & (EVT_NOTIFY_SIGNAL | EVT_NOTIFY_WAIT)) != 0) {
    if (Notify == nullptr || NotifyTpl <= TPL_APPLICATION || NotifyTpl >= TPL_HIGH_LEVEL) {
      return EFI_INVALID_PARAMETER;
    }
  }
  auto Record = std::make_unique<EventRecord>();
  Record->Type = Type;
  Record->NotifyTpl = NotifyTpl;
  Record->Notify = Notify;
  Record->Context = Context;
  if (EffectiveGroup != nullptr) {
    Record->HasGroup = true;
    Record->Group = *EffectiveGroup;
  }
  *Event = Record.get();
  Events.push_back(std::move(Record));
  return EFI_SUCCESS;
}

void Platform::Impl::QueueNotify(EventRecord &Event) {
  // A second signal before the notification ran moves it to the back of its level.
  if (Event.Queued) {
    auto &Queue = NotifyQueue[Event.NotifyTpl];
    Queue.erase(std::remove(Queue.begin(), Queue.end(), &Event), Queue.end());
  }
  NotifyQueue[Event.NotifyTpl].push_back(&Event);
  Event.Queued = true;
}

void Platform::Impl::SignalGroupMembers(const EFI_GUID &Group) {
  // Members created by a notification of this group are not signalled by it.
  const size_t Count = Events.size();
  for (size_t Index = 0; Index < Count; Index++) {
    EventRecord &Member = *Events[Index];
    if (Member.Closed || !Member.HasGroup || !GuidEquals(Member.Group, Group)) {
      continue;
    }
    Member.Signaled = true;
    if ((Member.Type & EVT_NOTIFY_SIGNAL) != 0) {
      QueueNotify(Member);
    }
  }
}

void Platform::Impl::MarkSignaled(EventRecord &Record) {
  if (Record.HasGroup) {
    SignalGroupMembers(Record.Group);
  } else if (!Record.Signaled) {
    Record.Signaled = true;
    if ((Record.Type & EVT_NOTIFY_SIGNAL) != 0) {
      QueueNotify(Record);
    }
  }
}

EFI_STATUS Platform::Impl::SignalEvent(EFI_EVENT Event) {
  EventRecord *Record = FindOpenEvent(Event);
  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  MarkSignaled(*Record);
  DispatchPending();
  return EFI_SUCCESS;
}

EFI_STATUS Platform::Impl::CloseEvent(EFI_EVENT Event) {
  EventRecord *Record = FindOpenEvent(Event);
  if (Record == nullptr) {
    Fail(Severity::Unsafe, "CloseEvent of an unknown or already closed event");
    return EFI_INVALID_PARAMETER;
  }
  if (Record->Queued) {
    auto &Queue = NotifyQueue[Record->NotifyTpl];
    Queue.erase(std::remove(Queue.begin(), Queue.end(), Record), Queue.end());
    Record->Queued = false;
  }
  for (auto &Registration : Registrations) {
    if (Registration->Event == Record) {
      Registration->Live = false;
    }
  }
  Record->Closed = true;
  return EFI_SUCCESS;
}

EFI_STATUS Platform::Impl::CheckEvent(EFI_EVENT Event) {
  EventRecord *Record = FindOpenEvent(Event);
  if (Record == nullptr || (Record->Type & EVT_NOTIFY_SIGNAL) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (Record->Signaled) {
    Record->Signaled = false;
    return EFI_SUCCESS;
  }
  if ((Record->Type & EVT_NOTIFY_WAIT) != 0) {
    QueueNotify(*Record);
    DispatchPending();
    if (Record->Signaled) {
      Record->Signaled = false;
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_READY;
}

void Platform::Impl::OrphanEventsOf(uintptr_t Base, UINT64 Size) {
  for (auto &Record : Events) {
    const auto Notify = reinterpret_cast<uintptr_t>(Record->Notify);
    if (!Record->Closed && Notify >= Base && Notify - Base < Size) {
      Record->Orphaned = true;
    }
  }
}

bool Platform::IsEventOpen(EFI_EVENT Event) const { return State_->FindOpenEvent(Event) != nullptr; }

size_t Platform::OpenEventCount() const {
  return std::count_if(State_->Events.begin(), State_->Events.end(),
                       [](const auto &Record) { return !Record->Closed; });
}

void Platform::SignalGroup(const EFI_GUID &Group) {
  State_->SignalGroupMembers(Group);
  State_->DispatchPending();
}

namespace {

EFI_STATUS EFIAPI SimCreateEvent(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY Notify, VOID *Context,
                                 EFI_EVENT *Event) {
  return BootService("CreateEvent", [&](Platform::Impl &S) {
    return S.CreateEvent(Type, NotifyTpl, Notify, Context, nullptr, Event);
  });
}

EFI_STATUS EFIAPI SimCreateEventEx(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY Notify, CONST VOID *Context,
                                   CONST EFI_GUID *Group, EFI_EVENT *Event) {
  return BootService("CreateEventEx", [&](Platform::Impl &S) {
    return S.CreateEvent(Type, NotifyTpl, Notify, const_cast<VOID *>(Context), Group, Event);
  });
}

EFI_STATUS EFIAPI SimSignalEvent(EFI_EVENT Event) {
  return BootService("SignalEvent", [&](Platform::Impl &S) { return S.SignalEvent(Event); });
}

EFI_STATUS EFIAPI SimCloseEvent(EFI_EVENT Event) {
  return BootService("CloseEvent", [&](Platform::Impl &S) { return S.CloseEvent(Event); });
}

EFI_STATUS EFIAPI SimCheckEvent(EFI_EVENT Event) {
  return BootService("CheckEvent", [&](Platform::Impl &S) { return S.CheckEvent(Event); });
}

}  // namespace

void FillEventServices(EFI_BOOT_SERVICES &Bs) {
  Bs.CreateEvent = SimCreateEvent;
  Bs.CreateEventEx = SimCreateEventEx;
  Bs.SignalEvent = SimSignalEvent;
  Bs.CloseEvent = SimCloseEvent;
  Bs.CheckEvent = SimCheckEvent;
}

}  // namespace sim
