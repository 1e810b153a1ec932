// The management controller's side of the inventory: the chunked inventory command, the
// SATA_INFO messages and the read-back summary, answered with IPMI completion codes. No
// OpenIPMI in here: ipmi_sim's glue (bmc/IpmiSimModule.cpp), the tests and the fuzzer call
// Handle with the network function, command and request data.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "BmcOptions.h"
#include "LargeCommandReceiver.h"
#include "StateStore.h"

namespace RosterBmc {

class InventoryBmc {
 public:
  // Store must be open; it outlives this object.
  InventoryBmc(const BmcOptions &Options, StateStore &Store, uint16_t SessionSeed);

  // Whether Handle answers this network function and command (the three this module adds).
  static bool Handles(uint8_t NetFn, uint8_t Command);
  // The response, completion code first; never longer than MaxResponse bytes.
  Bytes Handle(uint8_t NetFn, uint8_t Command, ByteView Request);

  static constexpr size_t MaxResponse = 32;

 private:
  uint8_t AcceptInventory(ByteView Image);
  Bytes HandleSataInfo(ByteView Request);
  Bytes Summary() const;

  BmcOptions Options;
  StateStore &Store;
  LargeCommandReceiver Receiver;
  unsigned SataSeen = 0;  // SATA_INFO messages received this boot, the failed ones included
};

}  // namespace RosterBmc
