// The management controller's transport: records every request it is handed and answers
// with scripted statuses (EFI_SUCCESS once the script for a member runs out).
#pragma once

#include <Protocol/ManagementTransport.h>
#include <sim/Platform.h>

#include <deque>
#include <optional>
#include <vector>

namespace sim {

class ManagementTransport : public Peer {
 public:
  explicit ManagementTransport(Platform &P);  // installs the protocol on a new handle

  enum class Member { SendCommand, SendLargeCommand };
  struct Request {
    Member Kind;
    UINT16 CommandHeader;
    std::vector<UINT8> Data;  // RequestLength bytes of the request
    UINT64 RequestLength;  // as passed: 8-bit for SendCommand, full width for SendLargeCommand
    bool ResponseBuffer;  // a response buffer was given
    std::optional<UINT8> ResponseLengthIn;  // the response length the caller offered
    bool ReservedWasNull;
    EFI_STATUS Status;  // what the call returned
  };
  const std::vector<Request> &Requests() const { return Log; }
  std::vector<Request> RequestsOf(Member Kind) const;

  // The next calls of a member return these statuses in order.
  void Script(Member Kind, std::vector<EFI_STATUS> Statuses);
  MANAGEMENT_TRANSPORT_PROTOCOL *Interface() { return &Instance_.Protocol; }

 private:
  struct InstanceRecord {
    MANAGEMENT_TRANSPORT_PROTOCOL Protocol;
    ManagementTransport *Owner;
  };
  static EFI_STATUS EFIAPI SendCommandEntry(MANAGEMENT_TRANSPORT_PROTOCOL *This, UINT16 CommandHeader, VOID *Request,
                                            UINT8 RequestLength, VOID *Response, UINT8 *ResponseLength, VOID *Reserved);
  static EFI_STATUS EFIAPI SendLargeCommandEntry(MANAGEMENT_TRANSPORT_PROTOCOL *This, UINT16 CommandHeader,
                                                 VOID *Request, UINTN RequestLength, VOID *Response,
                                                 UINT8 *ResponseLength, VOID *Reserved);
  EFI_STATUS Receive(Member Kind, UINT16 CommandHeader, VOID *Request, UINT64 RequestLength, VOID *Response,
                     UINT8 *ResponseLength, VOID *Reserved);

  Platform &P;
  InstanceRecord Instance_{};
  EFI_HANDLE Handle_ = nullptr;
  std::deque<EFI_STATUS> SendCommandScript;
  std::deque<EFI_STATUS> SendLargeCommandScript;
  std::vector<Request> Log;
};

}  // namespace sim
