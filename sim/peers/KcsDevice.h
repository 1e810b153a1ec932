// A BMC behind an IPMI KCS system interface at two I/O ports: the BMC's side of the
// interface's state machine (idle, write, read and error states, IBF and OBF, the
// control codes, GET_STATUS/ABORT) driven by the host's port accesses, and a scriptable
// BMC that answers each complete request. Time is the platform's virtual clock, so a BMC
// that takes its time is seen only by a host that stalls.
//
// Faults: a BMC that answers late or never, one that takes each byte slowly, an input
// buffer that stays full from some write on, an error state at some write, an error
// state no abort leaves, a byte left in the output register. A board without a BMC is a
// platform without this peer: its ports read all ones.
#pragma once

#include <sim/Platform.h>

#include <functional>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace sim {

class KcsDevice : public Peer {
 public:
  // Binds the platform's port hooks to the two registers (other ports read all ones).
  KcsDevice(Platform &P, UINT16 DataPort = 0xCA2, UINT16 StatusPort = 0xCA3);

  // The BMC: a complete request (network function and LUN, command, data) in, the whole
  // response out. An empty response is an answer that never comes.
  using Bmc = std::function<std::vector<UINT8>(const std::vector<UINT8> &Request)>;
  void Answer(Bmc Handler) { Handler_ = std::move(Handler); }
  // The response a BMC gives to Request: network function plus one, same LUN and command,
  // then CompletionCode and Data.
  static std::vector<UINT8> Reply(const std::vector<UINT8> &Request, UINT8 CompletionCode,
                                  std::vector<UINT8> Data = {});

  static constexpr UINT64 kNever = std::numeric_limits<UINT64>::max();
  // Virtual microseconds from the request's last byte to the response (kNever: none).
  UINT64 ResponseDelay = 0;
  // Virtual microseconds the BMC takes to take each byte or control code.
  UINT64 ByteDelay = 0;
  // QEMU's model keeps IBF set while the BMC works on a request and goes to the read state
  // with the first byte; with false the BMC takes the last byte at once, goes to the read
  // state, and OBF comes with the response.
  bool HoldInputWhileProcessing = true;
  // From the Nth host write on (1-based, data and commands alike) IBF never clears.
  std::optional<unsigned> StickInputAtWrite;
  // These host writes (1-based) are not taken: the interface goes to its error state.
  std::set<unsigned> ErrorAtWrites;
  // The error state is never left: an abort answers nothing.
  bool StuckInError = false;
  // A byte waiting in the output register, as a BMC may leave one.
  void LeaveByteInOutput(UINT8 Byte);

  // --- What the BMC saw.
  const std::vector<std::vector<UINT8>> &Requests() const { return Received; }
  unsigned Aborts() const { return AbortCount; }
  unsigned HostWrites() const { return Writes; }
  unsigned StatusReads() const { return StatusReadCount; }
  // Host accesses the interface forbids: a write while IBF is set, a data read with OBF
  // clear.
  const std::vector<std::string> &Violations() const { return Violations_; }
  bool Idle() const { return State == kIdle && !Input; }

 private:
  enum : UINT8 { kIdle = 0x00, kRead = 0x40, kWrite = 0x80, kError = 0xC0 };
  UINT8 ReadPort(UINT16 Port);
  void WritePort(UINT16 Port, UINT8 Value);
  void Update();
  void Command(UINT8 Code);
  void Data(UINT8 Byte);
  void EnterError(UINT8 Code);
  void Output(UINT8 Byte);

  Platform &P;
  UINT16 DataPort_;
  UINT16 StatusPort_;
  Bmc Handler_;

  UINT8 State = kIdle;
  bool Input = false;  // IBF
  bool InputStuck = false;
  bool OutputFull = false;  // OBF
  bool LastWasCommand = false;
  UINT8 OutputByte = 0;
  UINT64 InputTakenAt = 0;
  bool WriteEnd = false;
  std::vector<UINT8> In;
  std::vector<UINT8> Out;
  size_t OutPos = 0;
  bool Processing = false;
  UINT64 ResponseAt = 0;
  UINT8 ErrorCode = 0;

  std::vector<std::vector<UINT8>> Received;
  unsigned AbortCount = 0;
  unsigned Writes = 0;
  unsigned StatusReadCount = 0;
  std::vector<std::string> Violations_;
};

}  // namespace sim
