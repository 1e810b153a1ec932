// The platform's Tesk registration service: keeps the addresses of pointer variables that
// runtime images want converted at the switch to virtual addressing. Its functions take no
// interface argument, so they reach the one live instance through a static pointer.
#pragma once

#include <Protocol/TeskRegistration.h>
#include <sim/Platform.h>

#include <vector>

namespace sim {

class TeskService : public Peer {
 public:
  explicit TeskService(Platform &P);  // becomes the current instance
  ~TeskService() override;

  EFI_HANDLE Install();
  TESK_REGISTRATION_PROTOCOL *Interface() { return &Protocol; }

  struct Call {
    bool Register;  // false: withdraw
    VOID **Address;
    EFI_STATUS Status;
  };
  const std::vector<Call> &Calls() const { return Log; }
  const std::vector<VOID **> &Registered() const { return Live; }
  bool IsRegistered(VOID **Address) const;
  // What the service does at SetVirtualAddressMap: moves every registered pointer.
  void ConvertRegistered(INT64 Offset);

 private:
  static EFI_STATUS EFIAPI RegisterEntry(VOID **Address);
  static EFI_STATUS EFIAPI UnregisterEntry(VOID **Address);
  EFI_STATUS Register(VOID **Address);
  EFI_STATUS Unregister(VOID **Address);

  static TeskService *CurrentInstance;
  Platform &P;
  TESK_REGISTRATION_PROTOCOL Protocol{};
  EFI_HANDLE Handle_ = nullptr;
  std::vector<Call> Log;
  std::vector<VOID **> Live;
};

}  // namespace sim
