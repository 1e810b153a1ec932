// InstallMultipleProtocolInterfaces and UninstallMultipleProtocolInterfaces: NULL-ended
// GUID/interface pairs, all or nothing. The notifications of the whole set run once the
// set is complete, because the installation holds the TPL at TPL_NOTIFY meanwhile.
#include "ServiceEntry.h"

#include <algorithm>
#include <utility>

namespace sim {

namespace {

using Pairs = std::vector<std::pair<const EFI_GUID *, VOID *>>;

// More pairs than any real caller passes: beyond this the list is taken as unterminated.
constexpr size_t kMaxPairs = 64;

EFI_STATUS InstallMultiple(Platform::Impl &S, EFI_HANDLE *Handle, const Pairs &List) {
  if (Handle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_HANDLE Original = *Handle;
  EFI_TPL Old = S.RaiseTpl(std::max<EFI_TPL>(S.Owner.CurrentTpl(), TPL_NOTIFY));
  EFI_STATUS Status = EFI_SUCCESS;
  size_t Done = 0;
  for (; Done < List.size(); Done++) {
    Status = S.Install(Handle, List[Done].first, List[Done].second);
    if (EFI_ERROR(Status)) {
      break;
    }
  }
  if (EFI_ERROR(Status)) {
    while (Done > 0) {
      Done--;
      S.Uninstall(*Handle, List[Done].first, List[Done].second);
    }
    *Handle = Original;
  }
  S.RestoreTpl(Old);
  return Status;
}

EFI_STATUS UninstallMultiple(Platform::Impl &S, EFI_HANDLE Handle, const Pairs &List) {
  EFI_TPL Old = S.RaiseTpl(std::max<EFI_TPL>(S.Owner.CurrentTpl(), TPL_NOTIFY));
  EFI_STATUS Status = EFI_SUCCESS;
  size_t Done = 0;
  for (; Done < List.size(); Done++) {
    Status = S.Uninstall(Handle, List[Done].first, List[Done].second);
    if (EFI_ERROR(Status)) {
      break;
    }
  }
  if (EFI_ERROR(Status)) {
    // Put back what was taken; the handle may have died with its last protocol.
    EFI_HANDLE Restore = S.FindLiveHandle(Handle) != nullptr ? Handle : nullptr;
    while (Done > 0) {
      Done--;
      S.Install(&Restore, List[Done].first, List[Done].second);
    }
    Status = EFI_INVALID_PARAMETER;
  }
  S.RestoreTpl(Old);
  return Status;
}

bool ReadPairs(__builtin_ms_va_list &Args, Pairs &List) {
  for (;;) {
    auto *Guid = __builtin_va_arg(Args, const EFI_GUID *);
    if (Guid == nullptr) {
      return true;
    }
    if (List.size() == kMaxPairs) {
      return false;
    }
    auto *Interface = __builtin_va_arg(Args, VOID *);
    List.emplace_back(Guid, Interface);
  }
}

EFI_STATUS EFIAPI SimInstallMultipleProtocolInterfaces(EFI_HANDLE *Handle, ...) {
  Pairs List;
  __builtin_ms_va_list Args;
  __builtin_ms_va_start(Args, Handle);
  bool Terminated = ReadPairs(Args, List);
  __builtin_ms_va_end(Args);
  return BootService("InstallMultipleProtocolInterfaces", [&](Platform::Impl &S) {
    if (!Terminated) {
      Fail("InstallMultipleProtocolInterfaces: list not NULL-terminated");
      return EFI_INVALID_PARAMETER;
    }
    return InstallMultiple(S, Handle, List);
  });
}

EFI_STATUS EFIAPI SimUninstallMultipleProtocolInterfaces(EFI_HANDLE Handle, ...) {
  Pairs List;
  __builtin_ms_va_list Args;
  __builtin_ms_va_start(Args, Handle);
  bool Terminated = ReadPairs(Args, List);
  __builtin_ms_va_end(Args);
  return BootService("UninstallMultipleProtocolInterfaces", [&](Platform::Impl &S) {
    if (!Terminated) {
      Fail("UninstallMultipleProtocolInterfaces: list not NULL-terminated");
      return EFI_INVALID_PARAMETER;
    }
    return UninstallMultiple(S, Handle, List);
  });
}

}  // namespace

void FillMultipleProtocolServices(EFI_BOOT_SERVICES &Bs) {
  Bs.InstallMultipleProtocolInterfaces = SimInstallMultipleProtocolInterfaces;
  Bs.UninstallMultipleProtocolInterfaces = SimUninstallMultipleProtocolInterfaces;
}

}  // namespace sim
