#include "TeskService.h"

#include <algorithm>

namespace sim {

TeskService *TeskService::CurrentInstance = nullptr;

namespace {
// The first two functions belong to the service's producers, not to its clients.
void EFIAPI UnexpectedTeskFunction() { Fail("unexpected call: Tesk first or second function"); }
}  // namespace

TeskService::TeskService(Platform &Owner) : P(Owner) {
  if (CurrentInstance != nullptr) {
    Fail("a second Tesk service is live");
  }
  CurrentInstance = this;
  Protocol.Function0 = reinterpret_cast<VOID *>(&UnexpectedTeskFunction);
  Protocol.Function1 = reinterpret_cast<VOID *>(&UnexpectedTeskFunction);
  Protocol.RegisterPointer = RegisterEntry;
  Protocol.UnregisterPointer = UnregisterEntry;
}

TeskService::~TeskService() {
  if (CurrentInstance == this) {
    CurrentInstance = nullptr;
  }
}

EFI_HANDLE TeskService::Install() {
  if (EFI_ERROR(P.InstallProtocol(&Handle_, gTeskRegistrationProtocolGuid, &Protocol))) {
    Fail("Tesk service install failed");
  }
  return Handle_;
}

bool TeskService::IsRegistered(VOID **Address) const {
  return std::find(Live.begin(), Live.end(), Address) != Live.end();
}

void TeskService::ConvertRegistered(INT64 Offset) {
  for (VOID **Address : Live) {
    if (*Address != nullptr) {
      *Address = reinterpret_cast<VOID *>(reinterpret_cast<uintptr_t>(*Address) + Offset);
    }
  }
}

EFI_STATUS EFIAPI TeskService::RegisterEntry(VOID **Address) {
  if (CurrentInstance == nullptr) {
    Fail("Tesk service called with no live instance");
    return EFI_NOT_READY;
  }
  return CurrentInstance->Register(Address);
}

EFI_STATUS EFIAPI TeskService::UnregisterEntry(VOID **Address) {
  if (CurrentInstance == nullptr) {
    Fail("Tesk service called with no live instance");
    return EFI_NOT_READY;
  }
  return CurrentInstance->Unregister(Address);
}

EFI_STATUS TeskService::Register(VOID **Address) {
  EFI_STATUS Status = EFI_SUCCESS;
  if (auto Injected = P.Faults().Check("Tesk.RegisterPointer")) {
    Status = *Injected;
  } else if (Address == nullptr) {
    Status = EFI_INVALID_PARAMETER;
  } else if (IsRegistered(Address)) {
    Status = EFI_ALREADY_STARTED;
  } else {
    Live.push_back(Address);
  }
  Log.push_back({true, Address, Status});
  return Status;
}

EFI_STATUS TeskService::Unregister(VOID **Address) {
  EFI_STATUS Status = EFI_SUCCESS;
  if (auto Injected = P.Faults().Check("Tesk.UnregisterPointer")) {
    Status = *Injected;
  } else if (Address == nullptr) {
    Status = EFI_INVALID_PARAMETER;
  } else if (!IsRegistered(Address)) {
    Status = EFI_NOT_FOUND;
  } else {
    Live.erase(std::find(Live.begin(), Live.end(), Address));
  }
  Log.push_back({false, Address, Status});
  return Status;
}

}  // namespace sim
