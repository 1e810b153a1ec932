#include "ManagementTransport.h"

namespace sim {

ManagementTransport::ManagementTransport(Platform &Owner) : P(Owner) {
  Instance_.Protocol.SendCommand = SendCommandEntry;
  Instance_.Protocol.SendLargeCommand = SendLargeCommandEntry;
  Instance_.Owner = this;
  if (EFI_ERROR(P.InstallProtocol(&Handle_, gManagementTransportProtocolGuid, &Instance_.Protocol))) {
    Fail("management transport install failed");
  }
}

std::vector<ManagementTransport::Request> ManagementTransport::RequestsOf(Member Kind) const {
  std::vector<Request> Selected;
  for (const Request &Each : Log) {
    if (Each.Kind == Kind) {
      Selected.push_back(Each);
    }
  }
  return Selected;
}

void ManagementTransport::Script(Member Kind, std::vector<EFI_STATUS> Statuses) {
  auto &Queue = Kind == Member::SendCommand ? SendCommandScript : SendLargeCommandScript;
  Queue.insert(Queue.end(), Statuses.begin(), Statuses.end());
}

EFI_STATUS EFIAPI ManagementTransport::SendCommandEntry(MANAGEMENT_TRANSPORT_PROTOCOL *This, UINT16 CommandHeader,
                                                        VOID *Request, UINT8 RequestLength, VOID *Response,
                                                        UINT8 *ResponseLength, VOID *Reserved) {
  if (This == nullptr) {
    Fail(Severity::Unsafe, "Transport.SendCommand called with a null This");
    return EFI_INVALID_PARAMETER;
  }
  return reinterpret_cast<InstanceRecord *>(This)->Owner->Receive(Member::SendCommand, CommandHeader, Request,
                                                                  RequestLength, Response, ResponseLength, Reserved);
}

EFI_STATUS EFIAPI ManagementTransport::SendLargeCommandEntry(MANAGEMENT_TRANSPORT_PROTOCOL *This, UINT16 CommandHeader,
                                                             VOID *Request, UINTN RequestLength, VOID *Response,
                                                             UINT8 *ResponseLength, VOID *Reserved) {
  if (This == nullptr) {
    Fail(Severity::Unsafe, "Transport.SendLargeCommand called with a null This");
    return EFI_INVALID_PARAMETER;
  }
  return reinterpret_cast<InstanceRecord *>(This)->Owner->Receive(Member::SendLargeCommand, CommandHeader, Request,
                                                                  RequestLength, Response, ResponseLength, Reserved);
}

// The request is copied at once: the caller frees it as soon as the call returns.
EFI_STATUS ManagementTransport::Receive(Member Kind, UINT16 CommandHeader, VOID *RequestData, UINT64 RequestLength,
                                        VOID *Response, UINT8 *ResponseLength, VOID *Reserved) {
  Request Entry{};
  Entry.Kind = Kind;
  Entry.CommandHeader = CommandHeader;
  Entry.RequestLength = RequestLength;
  Entry.ResponseBuffer = Response != nullptr;
  if (ResponseLength != nullptr) {
    Entry.ResponseLengthIn = *ResponseLength;
  }
  Entry.ReservedWasNull = Reserved == nullptr;
  if (RequestData != nullptr) {
    const auto *Bytes = static_cast<const UINT8 *>(RequestData);
    Entry.Data.assign(Bytes, Bytes + RequestLength);
  } else if (RequestLength != 0) {
    Fail("transport request without data");
  }

  const char *Name = Kind == Member::SendCommand ? "Transport.SendCommand" : "Transport.SendLargeCommand";
  EFI_STATUS Status = EFI_SUCCESS;
  auto &Queue = Kind == Member::SendCommand ? SendCommandScript : SendLargeCommandScript;
  if (auto Injected = P.Faults().Check(Name)) {
    Status = *Injected;
  } else if (!Queue.empty()) {
    Status = Queue.front();
    Queue.pop_front();
  }
  // A completion code byte, within the length the caller offered.
  if (!EFI_ERROR(Status) && Response != nullptr && ResponseLength != nullptr && *ResponseLength >= 1) {
    static_cast<UINT8 *>(Response)[0] = 0x00;
    *ResponseLength = 1;
  }
  Entry.Status = Status;
  Log.push_back(std::move(Entry));
  return Status;
}

}  // namespace sim
