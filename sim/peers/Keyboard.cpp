#include "Keyboard.h"

#include <cstring>
#include <string>

namespace sim {

namespace {

// The members a key-notify client has no business calling.
EFI_STATUS EFIAPI UnexpectedReset(EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *, BOOLEAN) {
  Fail("unexpected call: Keyboard.Reset");
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI UnexpectedReadKeyStrokeEx(EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *, EFI_KEY_DATA *) {
  Fail("unexpected call: Keyboard.ReadKeyStrokeEx");
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI UnexpectedSetState(EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *, EFI_KEY_TOGGLE_STATE *) {
  Fail("unexpected call: Keyboard.SetState");
  return EFI_UNSUPPORTED;
}

// Notify handles are opaque to clients; distinct tags (never reused) keep a stale handle
// from ever naming a newer registration.
VOID *NotifyTag(const void *Owner, UINTN Id) {
  return reinterpret_cast<VOID *>(reinterpret_cast<uintptr_t>(Owner) + Id * 0x10000);
}

}  // namespace

Keyboard::Keyboard(Platform &Owner) : P(Owner) {
  Instance_.Protocol.Reset = UnexpectedReset;
  Instance_.Protocol.ReadKeyStrokeEx = UnexpectedReadKeyStrokeEx;
  Instance_.Protocol.WaitForKeyEx = nullptr;
  Instance_.Protocol.SetState = UnexpectedSetState;
  Instance_.Protocol.RegisterKeyNotify = RegisterKeyNotifyEntry;
  Instance_.Protocol.UnregisterKeyNotify = UnregisterKeyNotifyEntry;
  Instance_.Owner = this;
}

EFI_HANDLE Keyboard::Install() {
  if (Handle_ != nullptr) {
    Fail("Keyboard installed twice");
    return Handle_;
  }
  EFI_STATUS Status = P.InstallProtocol(&Handle_, gEfiSimpleTextInputExProtocolGuid, &Instance_.Protocol);
  if (EFI_ERROR(Status)) {
    Fail("Keyboard install failed");
    Handle_ = nullptr;
  }
  return Handle_;
}

void Keyboard::Uninstall() {
  if (Handle_ == nullptr) {
    return;
  }
  P.UninstallProtocol(Handle_, gEfiSimpleTextInputExProtocolGuid, &Instance_.Protocol);
  Handle_ = nullptr;
}

bool Keyboard::KeyMatches(const EFI_KEY_DATA &Registered, const EFI_KEY_DATA &Input) {
  if (Registered.Key.ScanCode != Input.Key.ScanCode || Registered.Key.UnicodeChar != Input.Key.UnicodeChar) {
    return false;
  }
  if (Registered.KeyState.KeyShiftState != 0 && Registered.KeyState.KeyShiftState != Input.KeyState.KeyShiftState) {
    return false;
  }
  if (Registered.KeyState.KeyToggleState != 0 && Registered.KeyState.KeyToggleState != Input.KeyState.KeyToggleState) {
    return false;
  }
  return true;
}

Keyboard *Keyboard::From(EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *This) {
  if (This == nullptr) {
    Fail(Severity::Unsafe, "Keyboard called with a null This");
    return nullptr;
  }
  auto *Record = reinterpret_cast<InstanceRecord *>(This);
  if (Record->Owner == nullptr || &Record->Owner->Instance_ != Record) {
    Fail(Severity::Unsafe, "Keyboard called with a foreign This");
    return nullptr;
  }
  return Record->Owner;
}

EFI_STATUS EFIAPI Keyboard::RegisterKeyNotifyEntry(EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *This, EFI_KEY_DATA *KeyData,
                                                   EFI_KEY_NOTIFY_FUNCTION Function, VOID **NotifyHandle) {
  Keyboard *Self = From(This);
  return Self == nullptr ? EFI_INVALID_PARAMETER : Self->RegisterKeyNotify(KeyData, Function, NotifyHandle);
}

EFI_STATUS EFIAPI Keyboard::UnregisterKeyNotifyEntry(EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *This, VOID *NotifyHandle) {
  Keyboard *Self = From(This);
  return Self == nullptr ? EFI_INVALID_PARAMETER : Self->UnregisterKeyNotify(NotifyHandle);
}

EFI_STATUS Keyboard::RegisterKeyNotify(EFI_KEY_DATA *KeyData, EFI_KEY_NOTIFY_FUNCTION Function, VOID **NotifyHandle) {
  Call Entry{CallKind::Register, {}, Function, nullptr, EFI_SUCCESS};
  if (KeyData != nullptr) {
    Entry.Key = *KeyData;
  }
  auto Finish = [&](EFI_STATUS Status) {
    Entry.Status = Status;
    Log.push_back(Entry);
    return Status;
  };
  if (auto Injected = P.Faults().Check("Keyboard.RegisterKeyNotify")) {
    return Finish(*Injected);
  }
  if (KeyData == nullptr || Function == nullptr || NotifyHandle == nullptr) {
    return Finish(EFI_INVALID_PARAMETER);
  }
  // The same key and function again: the existing registration is handed back.
  for (const Registration &Existing : Active) {
    if (Existing.Function == Function && KeyMatches(Existing.Key, *KeyData)) {
      *NotifyHandle = Existing.NotifyHandle;
      Entry.NotifyHandle = Existing.NotifyHandle;
      return Finish(EFI_SUCCESS);
    }
  }
  Registration Added{*KeyData, Function, NotifyTag(this, NextNotifyId++)};
  Active.push_back(Added);
  *NotifyHandle = Added.NotifyHandle;
  Entry.NotifyHandle = Added.NotifyHandle;
  return Finish(EFI_SUCCESS);
}

EFI_STATUS Keyboard::UnregisterKeyNotify(VOID *NotifyHandle) {
  Call Entry{CallKind::Unregister, {}, nullptr, NotifyHandle, EFI_SUCCESS};
  auto Finish = [&](EFI_STATUS Status) {
    Entry.Status = Status;
    Log.push_back(Entry);
    return Status;
  };
  if (auto Injected = P.Faults().Check("Keyboard.UnregisterKeyNotify")) {
    return Finish(*Injected);
  }
  if (NotifyHandle == nullptr) {
    return Finish(EFI_INVALID_PARAMETER);
  }
  for (auto It = Active.begin(); It != Active.end(); ++It) {
    if (It->NotifyHandle == NotifyHandle) {
      Active.erase(It);
      return Finish(EFI_SUCCESS);
    }
  }
  return Finish(EFI_INVALID_PARAMETER);
}

unsigned Keyboard::Press(const EFI_KEY_DATA &Key) {
  // A notification may unregister itself or others: run from a snapshot, as the
  // keyboard drivers queue the matches before calling them.
  std::vector<EFI_KEY_NOTIFY_FUNCTION> Matches;
  for (const Registration &Existing : Active) {
    if (KeyMatches(Existing.Key, Key)) {
      Matches.push_back(Existing.Function);
    }
  }
  P.RunAt(TPL_CALLBACK, [&] {
    for (EFI_KEY_NOTIFY_FUNCTION Function : Matches) {
      EFI_KEY_DATA Copy = Key;
      Function(&Copy);
    }
  });
  return static_cast<unsigned>(Matches.size());
}

}  // namespace sim
