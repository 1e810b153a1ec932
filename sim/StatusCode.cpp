// EFI_STATUS_CODE_RUNTIME_PROTOCOL: every report is recorded with a copy of its data
// (header and payload), as a router hands a copy to its listeners, unless the platform
// keeps no call logs (a fuzzer); the data is read all the same.
#include "ServiceEntry.h"

#include <cstring>

namespace sim {

namespace {

EFI_STATUS EFIAPI SimReportStatusCode(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                                      CONST EFI_GUID *CallerId, EFI_STATUS_CODE_DATA *Data) {
  return RuntimeService("StatusCode.ReportStatusCode", [&](Platform::Impl &S) -> EFI_STATUS {
    StatusCodeReport Report{Type, Value, Instance, std::nullopt, {}};
    if (CallerId != nullptr) {
      Report.CallerId = *CallerId;
    }
    const bool Keep = S.Owner.Faults().KeepsCallLog();
    if (Data != nullptr) {
      // The header's own sizes say how much to copy; a header smaller than itself is bad input.
      EFI_STATUS_CODE_DATA Header;
      std::memcpy(&Header, Data, sizeof Header);
      if (Header.HeaderSize < sizeof(EFI_STATUS_CODE_DATA)) {
        Fail("ReportStatusCode with a data header size of " + std::to_string(Header.HeaderSize));
        return EFI_INVALID_PARAMETER;
      }
      const size_t Total = static_cast<size_t>(Header.HeaderSize) + Header.Size;
      const auto *Bytes = reinterpret_cast<const UINT8 *>(Data);
      // Copied even when no record is kept: the copy is what reads all of the caller's data.
      static std::vector<UINT8> Unkept;
      (Keep ? Report.Data : Unkept).assign(Bytes, Bytes + Total);
    }
    if (Keep) {
      S.Reports().push_back(std::move(Report));
    }
    return EFI_SUCCESS;
  });
}

}  // namespace

void Platform::Impl::InitStatusCode() {
  StatusCode.ReportStatusCode = SimReportStatusCode;
  Install(&StatusCodeHandle, &gEfiStatusCodeRuntimeProtocolGuid, &StatusCode);
  StatusCodeInstalled = true;
}

void Platform::RemoveStatusCodeProtocol() {
  if (!State_->StatusCodeInstalled) {
    return;
  }
  State_->Uninstall(State_->StatusCodeHandle, &gEfiStatusCodeRuntimeProtocolGuid, &State_->StatusCode);
  State_->StatusCodeInstalled = false;
}

}  // namespace sim
