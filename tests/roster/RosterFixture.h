// The inventory driver loaded as an image into a simulated platform, and what a test
// reads back from it.
#pragma once

#include <gtest/gtest.h>

#include "RosterBoard.h"

#include <list>
#include <string>
#include <vector>

namespace roster_test {

class RosterTest : public ::testing::Test {
 protected:
  sim::Platform P;
  RosterTest();

  // Stores "DebugMessageConfig" with a preset that shows DEBUG_INFO and DEBUG_ERROR.
  void ShowDebugMessages();
  // Loads a fresh copy of the driver and runs its entry point.
  EFI_STATUS StartDriver();
  // Starts the driver, installs the trigger once and returns what the transport received.
  void RunInventory();

  // The images and SATA messages the transport received.
  std::vector<std::vector<UINT8>> Images() const;
  std::vector<std::vector<UINT8>> Messages() const;
  sim::ManagementTransport &Transport();

  // The single image, with the test failing when there is not exactly one.
  std::vector<UINT8> OnlyImage() const;

  // Failed assertions the driver reported since the last NoteBeforeTrigger (error status
  // codes of an unrecovered state).
  size_t AssertionCount() const;
  size_t ReportsBeforeTrigger = 0;

  // Pool blocks and open events just before the trigger, to compare with afterwards.
  size_t LiveBeforeTrigger = 0;
  size_t EventsBeforeTrigger = 0;
  void NoteBeforeTrigger();
  void ExpectCleanAfterInventory();

  sim::ManagementTransport *Transport_ = nullptr;

 private:
  std::list<sim::LoadedDriver> Loaded;  // a copy stays loaded while its events may run
};

// Record views of an image.
struct ImageView {
  const std::vector<UINT8> &Image;
  UINT8 CpuCount() const;
  UINT8 DimmCount() const;
  UINT8 PciCount() const;
  const UINT8 *Cpu(size_t Index) const;
  const UINT8 *Dimm(size_t Index) const;
  const UINT8 *Pci(size_t Index) const;
};

std::string FieldText(const UINT8 *Field, size_t Width);  // up to the first NUL
std::string FirstDifference(const std::vector<UINT8> &Actual, const std::vector<UINT8> &Expected);

}  // namespace roster_test
