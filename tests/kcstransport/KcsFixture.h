// The KCS transport loaded as an image into a simulated platform with a KCS device at its
// ports, and a reference BMC for large commands that checks every rule of the chunked
// transfer on its own reading of the wire layout.
#pragma once

#include <gtest/gtest.h>

#include <LargeCommandTransfer.h>
#include <Protocol/ManagementTransport.h>
#include <sim/Platform.h>
#include <sim/peers/KcsDevice.h>

#include <functional>
#include <list>
#include <optional>
#include <string>
#include <vector>

namespace kcs_test {

inline constexpr UINT16 kInventoryHeader = IpmiCommandHeader(0x32, 0, 0x5A);
inline constexpr UINT16 kSataInfoHeader = IpmiCommandHeader(0x3A, 0, 0xA7);

// CRC-16/CCITT-FALSE, written from its definition.
UINT16 ReferenceCrc16(const UINT8 *Data, size_t Length);

// A BMC that takes large commands for one command header: plain requests as they come,
// chunked ones reassembled by the transfer's rules. Every breach of a rule by the host is
// kept in Breaches and answered with a failing completion code.
class LargeCommandBmc {
 public:
  explicit LargeCommandBmc(UINT16 Header) : Header_(Header) {}
  std::vector<UINT8> operator()(const std::vector<UINT8> &Request);

  std::vector<std::vector<UINT8>> Commands;  // what the BMC acted on
  std::vector<std::string> Breaches;
  std::vector<UINT32> WriteOffsets;  // every WRITE's offset, repeats included
  std::vector<size_t> WriteLengths;
  unsigned Opens = 0, Commits = 0, Aborts = 0, Plain = 0;
  std::vector<UINT8> CommitData;  // response data after the completion code of a good COMMIT
  UINT16 NextSessionId = 0x4A21;
  // Replaces a step's answer: (step, how many of that step came before) -> completion
  // code; nullopt keeps the rule-following answer.
  std::function<std::optional<UINT8>(UINT8 Step, unsigned Index)> Override;
  // The OPEN answer's bytes after the completion code, when a test wants a bad one.
  std::optional<std::vector<UINT8>> OpenAnswer;
  bool SessionOpen() const { return Session != 0; }

 private:
  std::vector<UINT8> Answer(const std::vector<UINT8> &Request, UINT8 Code, std::vector<UINT8> Data = {});
  UINT16 Header_;
  UINT16 Session = 0;
  UINT32 Total = 0;
  std::vector<UINT8> Bytes;
  std::vector<UINT8> LastWrite;
  unsigned StepCount[5] = {};
};

class KcsTest : public ::testing::Test {
 protected:
  sim::Platform P;
  KcsTest();

  sim::KcsDevice &Device(UINT16 DataPort = 0xCA2, UINT16 StatusPort = 0xCA3);
  // Loads a fresh copy of the transport, starts it and finds its protocol.
  void StartTransport();
  MANAGEMENT_TRANSPORT_PROTOCOL *Transport = nullptr;

  struct Result {
    EFI_STATUS Status;
    std::vector<UINT8> Response;  // the bytes the transport reported
    UINT64 Microseconds;  // virtual time the call took
  };
  Result Send(UINT16 Header, const std::vector<UINT8> &Data, UINT8 Offered = 16) {
    return Call(false, Header, Data, Offered);
  }
  Result SendLarge(UINT16 Header, const std::vector<UINT8> &Data, UINT8 Offered = 16) {
    return Call(true, Header, Data, Offered);
  }
  Result Call(bool Large, UINT16 Header, const std::vector<UINT8> &Data, UINT8 Offered);

  sim::KcsDevice *Device_ = nullptr;

 private:
  std::list<sim::LoadedDriver> Loaded;
};

// Deterministic bytes of a given length.
std::vector<UINT8> Pattern(size_t Length, UINT32 Seed = 1);

}  // namespace kcs_test
