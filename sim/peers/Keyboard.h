// A keyboard with Simple Text Input Ex key notification, matching key strokes as EDK II's
// keyboard drivers do. Each instance is one protocol interface on its own handle.
#pragma once

#include <sim/Platform.h>

#include <vector>

namespace sim {

class Keyboard : public Peer {
 public:
  explicit Keyboard(Platform &P);

  // Installs the protocol on a new handle; registered protocol notifies see it at once.
  EFI_HANDLE Install();
  void Uninstall();
  EFI_HANDLE Handle() const { return Handle_; }
  EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *Interface() { return &Instance_.Protocol; }

  // Delivers one key stroke: every matching notification runs at TPL_CALLBACK.
  // Returns how many notification functions ran.
  unsigned Press(const EFI_KEY_DATA &Key);

  struct Registration {
    EFI_KEY_DATA Key;
    EFI_KEY_NOTIFY_FUNCTION Function;
    VOID *NotifyHandle;
  };
  const std::vector<Registration> &Registrations() const { return Active; }

  enum class CallKind { Register, Unregister };
  struct Call {
    CallKind Kind;
    EFI_KEY_DATA Key;  // Register only
    EFI_KEY_NOTIFY_FUNCTION Function;  // Register only
    VOID *NotifyHandle;  // handed out (Register) or given (Unregister)
    EFI_STATUS Status;
  };
  const std::vector<Call> &Calls() const { return Log; }

  // EDK II's rule: scan code and character must agree; the shift and toggle states only
  // when the registration asks for them (non-zero).
  static bool KeyMatches(const EFI_KEY_DATA &Registered, const EFI_KEY_DATA &Input);

 private:
  struct InstanceRecord {
    EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL Protocol;
    Keyboard *Owner;
  };
  static Keyboard *From(EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *This);
  static EFI_STATUS EFIAPI RegisterKeyNotifyEntry(EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *This, EFI_KEY_DATA *KeyData,
                                                  EFI_KEY_NOTIFY_FUNCTION Function, VOID **NotifyHandle);
  static EFI_STATUS EFIAPI UnregisterKeyNotifyEntry(EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *This, VOID *NotifyHandle);
  EFI_STATUS RegisterKeyNotify(EFI_KEY_DATA *KeyData, EFI_KEY_NOTIFY_FUNCTION Function, VOID **NotifyHandle);
  EFI_STATUS UnregisterKeyNotify(VOID *NotifyHandle);

  Platform &P;
  InstanceRecord Instance_{};
  EFI_HANDLE Handle_ = nullptr;
  std::vector<Registration> Active;
  std::vector<Call> Log;
  UINTN NextNotifyId = 1;
};

}  // namespace sim
