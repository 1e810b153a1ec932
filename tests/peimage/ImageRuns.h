// One scenario played twice, on fresh platforms: once with the host-built module and once
// with the PE32+ image the firmware build ships. Each run returns everything the platform's
// peers received, so a test compares the two byte for byte.
#pragma once

#include <sim/Platform.h>

#include <functional>
#include <string>
#include <vector>

namespace peimage_test {

// How a run gets its driver onto the platform.
using DriverLoader = std::function<sim::LoadedDriver(sim::Platform &)>;
sim::LoadedDriver HostRoster(sim::Platform &P);
sim::LoadedDriver ImageRoster(sim::Platform &P);
sim::LoadedDriver HostHotlatch(sim::Platform &P);
sim::LoadedDriver ImageHotlatch(sim::Platform &P);

// "DebugMessageConfig" with the switches on and DEBUG_INFO and DEBUG_ERROR selected.
void ShowInfoAndErrorMessages(sim::Platform &P);

// Failed assertions a run reported: decoded assert records and listener lines naming one.
std::vector<std::string> AssertionsIn(const std::vector<sim::StatusCodeReport> &Reports,
                                      const std::vector<std::string> &Lines);
// A run whose driver asserted fails the test, naming every assertion.
void ExpectNoAssertion(const std::vector<sim::StatusCodeReport> &Reports, const std::vector<std::string> &Lines,
                       const std::string &Run);

// Where two transcripts, or two byte images, part: for a failure message.
std::string FirstLineDifference(const std::vector<std::string> &Host, const std::vector<std::string> &Image);
std::string FirstByteDifference(const std::vector<UINT8> &Actual, const std::vector<UINT8> &Expected);

struct RosterRun {
  EFI_STATUS StartStatus = EFI_NOT_STARTED;
  std::vector<std::vector<UINT8>> Images;
  std::vector<std::vector<UINT8>> SataMessages;
  std::vector<UINT8> ExpectedImage;  // built from the board's description
  std::vector<std::string> Lines;
  std::vector<sim::StatusCodeReport> Reports;
  size_t PoolBeforeTrigger = 0, PoolAfterTrigger = 0;
  size_t EventsBeforeTrigger = 0, EventsAfterTrigger = 0;
};
// The full roster board; Prepare runs just before the trigger is installed (a fault rule).
RosterRun RunInventory(const DriverLoader &Load, const std::function<void(sim::Platform &)> &Prepare = {});

struct VariableBytes {
  std::vector<UINT8> Setup, PchRc, SocketProc;
  bool operator==(const VariableBytes &) const = default;
};

struct HotlatchRun {
  EFI_STATUS StartStatus = EFI_NOT_STARTED;
  VariableBytes Initial, AfterPress, AfterDisarmedPress;
  unsigned PressNotifications = 0, DisarmedPressNotifications = 0;
  unsigned PressWrites = 0, DisarmedPressWrites = 0;  // variable writes each press caused
  size_t ConvertedPointers = 0;  // by the image's virtual-address-change notifications
  std::vector<std::string> Lines;
  std::vector<sim::StatusCodeReport> Reports;
};
// Start, a keyboard arriving after the start, Ctrl+Alt+d, the disarm protocol, the key again,
// then the hand-over to the OS (ExitBootServices and the virtual address map). Variables are
// written directly (no SMM variable protocol is installed).
HotlatchRun RunHotKey(const DriverLoader &Load);

}  // namespace peimage_test
