// How every table entry enters the platform: find the live platform, flag boot-service
// calls after ExitBootServices, count the call with the fault injector (which may fail
// it), then run the service body with the private state. Every Name is a literal.
#pragma once

#include "PlatformImpl.h"

#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

namespace sim {

// UEFI's TPL limits and the exit-boot-services notification rule (ServiceRules.cpp).
void CheckCallingRules(Platform &P, std::string_view Name);

inline void NoteBootServiceCall(Platform &P, const char *Name) {
  if (P.BootServicesEnded()) {
    P.State().BootCallsAfterExit++;
    Fail(Severity::Unsafe, std::string("boot service called after ExitBootServices: ") + Name);
  }
  CheckCallingRules(P, Name);
}

// The counter of a call site's service (Site is the site's own body type, Name its
// literal), looked up by name once per platform: a driver's pool calls and status-code
// messages make thousands of calls per run.
template <class Site>
FaultInjector::ServiceCounter &SiteCounter(FaultInjector &Faults, const char *Name) {
  static struct {
    unsigned long long Injector = 0;
    const char *Name = nullptr;
    FaultInjector::ServiceCounter *Counter = nullptr;
  } Cached;
  if (Cached.Injector != Faults.Serial() || Cached.Name != Name) {
    Cached.Injector = Faults.Serial();
    Cached.Name = Name;
    Cached.Counter = &Faults.Counter(Name);
  }
  return *Cached.Counter;
}

template <class Body>
EFI_STATUS BootService(const char *Name, Body &&Run) {
  Platform *P = LivePlatform(Name);
  if (P == nullptr) {
    return EFI_UNSUPPORTED;
  }
  NoteBootServiceCall(*P, Name);
  if (auto Injected = P->Faults().Check(SiteCounter<Body>(P->Faults(), Name))) {
    return *Injected;
  }
  return Run(P->State());
}

// Services without a status to fail with are still counted and logged.
template <class Body>
void BootServiceNoStatus(const char *Name, Body &&Run) {
  Platform *P = LivePlatform(Name);
  if (P == nullptr) {
    return;
  }
  NoteBootServiceCall(*P, Name);
  (void)P->Faults().Check(SiteCounter<Body>(P->Faults(), Name));
  Run(P->State());
}

template <class Body>
EFI_STATUS RuntimeService(const char *Name, Body &&Run) {
  Platform *P = LivePlatform(Name);
  if (P == nullptr) {
    return EFI_UNSUPPORTED;
  }
  if (auto Injected = P->Faults().Check(SiteCounter<Body>(P->Faults(), Name))) {
    return *Injected;
  }
  return Run(P->State());
}

// The value of an enum parameter as the caller passed it: a driver may pass any number,
// and reading it as the enum type would be undefined behaviour for values out of range.
template <class Enum>
UINT32 RawEnum(const Enum &Value) {
  static_assert(sizeof(Enum) == sizeof(UINT32), "UEFI enums are 32 bits");
  UINT32 Raw;
  std::memcpy(&Raw, &Value, sizeof Raw);
  return Raw;
}

// A table entry the platform does not model: the call fails the test loudly and
// returns EFI_UNSUPPORTED, so a driver never jumps through a null pointer.
template <class Fn>
struct UnexpectedEntry;

template <class R, class... Args>
struct UnexpectedEntry<R(EFIAPI *)(Args...)> {
  template <const char *Name>
  static R EFIAPI Call(Args...) {
    Fail(std::string("unexpected call: ") + Name);
    if constexpr (!std::is_void_v<R>) {
      return (R)EFI_UNSUPPORTED;
    }
  }
};

#define SIM_UNEXPECTED_NAMED(Table, Member, Name) \
  do { \
    static constexpr char EntryName_[] = Name; \
    (Table).Member = &::sim::UnexpectedEntry<decltype((Table).Member)>::Call<EntryName_>; \
  } while (0)
#define SIM_UNEXPECTED(Table, Member) SIM_UNEXPECTED_NAMED(Table, Member, #Member)

}  // namespace sim
