#include "KcsDevice.h"

#include <IndustryStandard/IpmiKcs.h>

namespace sim {

namespace {
// What a KCS message may hold; QEMU's model keeps the same.
constexpr size_t kMaxMessage = 300;
}  // namespace

KcsDevice::KcsDevice(Platform &Owner, UINT16 DataPort, UINT16 StatusPort)
    : P(Owner), DataPort_(DataPort), StatusPort_(StatusPort) {
  Handler_ = [](const std::vector<UINT8> &Request) { return Reply(Request, 0x00); };
  P.OnIoRead8 = [this](UINT16 Port) { return ReadPort(Port); };
  P.OnIoWrite8 = [this](UINT16 Port, UINT8 Value) { WritePort(Port, Value); };
}

std::vector<UINT8> KcsDevice::Reply(const std::vector<UINT8> &Request, UINT8 CompletionCode, std::vector<UINT8> Data) {
  std::vector<UINT8> Response;
  Response.push_back(Request.empty() ? 0 : (UINT8)(Request[0] | 0x04));
  Response.push_back(Request.size() < 2 ? 0 : Request[1]);
  Response.push_back(CompletionCode);
  Response.insert(Response.end(), Data.begin(), Data.end());
  return Response;
}

void KcsDevice::LeaveByteInOutput(UINT8 Byte) { Output(Byte); }

void KcsDevice::Output(UINT8 Byte) {
  OutputByte = Byte;
  OutputFull = true;
}

// Time-driven changes: the BMC takes the input byte, or its answer is ready.
void KcsDevice::Update() {
  const UINT64 Now = P.Microseconds();
  if (Processing && Now >= ResponseAt && ResponseAt != kNever) {
    Processing = false;
    if (HoldInputWhileProcessing) {
      State = kRead;
    }
    Output(Out[0]);
    OutPos = 1;
  }
  if (Input && !InputStuck && Now >= InputTakenAt && !(Processing && HoldInputWhileProcessing)) {
    Input = false;
  }
}

UINT8 KcsDevice::ReadPort(UINT16 Port) {
  Update();
  if (Port == StatusPort_) {
    StatusReadCount++;
    return (UINT8)(State | (LastWasCommand ? KCS_STATUS_COMMAND : 0) | (Input ? KCS_STATUS_IBF : 0) |
                   (OutputFull ? KCS_STATUS_OBF : 0));
  }
  if (Port == DataPort_) {
    if (!OutputFull) {
      Violations_.push_back("data read with OBF clear");
    }
    OutputFull = false;
    return OutputByte;
  }
  return 0xFF;
}

void KcsDevice::WritePort(UINT16 Port, UINT8 Value) {
  if (Port != StatusPort_ && Port != DataPort_) {
    return;
  }
  Update();
  if (Input) {
    Violations_.push_back(std::string(Port == StatusPort_ ? "command" : "data") + " write while IBF is set");
    return;
  }
  Writes++;
  Input = true;
  InputTakenAt = ByteDelay == kNever ? kNever : P.Microseconds() + ByteDelay;
  LastWasCommand = Port == StatusPort_;
  if (StickInputAtWrite && Writes >= *StickInputAtWrite) {
    InputStuck = true;
    return;
  }
  if (ErrorAtWrites.count(Writes) != 0) {
    EnterError(KCS_ERROR_UNSPECIFIED);
    return;
  }
  if (LastWasCommand) {
    Command(Value);
  } else {
    Data(Value);
  }
}

void KcsDevice::EnterError(UINT8 Code) {
  State = kError;
  ErrorCode = Code;
  Processing = false;
  WriteEnd = false;
}

void KcsDevice::Command(UINT8 Code) {
  switch (Code) {
    case KCS_CONTROL_GET_STATUS_ABORT:
      AbortCount++;
      // Whatever was under way is dropped; an answer being worked on never comes.
      if (State != kError) {
        ErrorCode = KCS_ERROR_ABORTED;
      }
      State = kError;
      Processing = false;
      WriteEnd = false;
      return;
    case KCS_CONTROL_WRITE_START:
      if (State == kIdle || State == kWrite) {
        State = kWrite;
        In.clear();
        WriteEnd = false;
        return;
      }
      break;
    case KCS_CONTROL_WRITE_END:
      if (State == kWrite && !WriteEnd) {
        WriteEnd = true;
        return;
      }
      break;
    default:
      break;
  }
  EnterError(KCS_ERROR_ILLEGAL_CONTROL_CODE);
}

void KcsDevice::Data(UINT8 Byte) {
  switch (State) {
    case kWrite:
      if (In.size() >= kMaxMessage) {
        EnterError(KCS_ERROR_LENGTH);
        return;
      }
      In.push_back(Byte);
      if (WriteEnd) {
        WriteEnd = false;
        Received.push_back(In);
        Out = Handler_(In);
        Processing = true;
        ResponseAt = Out.empty() || ResponseDelay == kNever ? kNever : P.Microseconds() + ResponseDelay;
        if (!HoldInputWhileProcessing) {
          State = kRead;
        }
      }
      return;
    case kRead:
      if (Processing || Byte != KCS_CONTROL_READ) {
        EnterError(KCS_ERROR_ILLEGAL_CONTROL_CODE);
        return;
      }
      if (OutPos < Out.size()) {
        Output(Out[OutPos++]);
      } else {
        State = kIdle;
        Output(0x00);  // the dummy byte that comes with idle
      }
      return;
    case kError:
      if (StuckInError) {
        return;
      }
      // The host asks for the status after GET_STATUS/ABORT: one byte, then idle.
      State = kRead;
      Out.clear();
      OutPos = 0;
      Output(ErrorCode);
      return;
    default:
      EnterError(KCS_ERROR_ILLEGAL_CONTROL_CODE);
      return;
  }
}

}  // namespace sim
