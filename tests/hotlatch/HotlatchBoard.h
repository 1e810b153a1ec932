// A small machine for the hot-key driver: the three setup records with recognisable bytes,
// debug messages switched on, and the peers the driver meets (keyboards, the SMM variable
// handler, the Tesk service, the disarm protocol).
#pragma once

#include <sim/DebugTranscript.h>
#include <sim/Platform.h>
#include <sim/peers/DebugKeyDisarm.h>
#include <sim/peers/Keyboard.h>
#include <sim/peers/SmmVariable.h>
#include <sim/peers/TeskService.h>

#include <Guid/SetupVariables.h>
#include <hotlatch/SetupOptionLayout.h>

#include <functional>
#include <list>
#include <string>
#include <string_view>
#include <vector>

namespace hotlatch_test {

// Left-Ctrl + Left-Alt + d as a keyboard reports it, with the lock-state bits a real
// keyboard adds (the registration does not ask for them).
inline constexpr EFI_KEY_DATA kDebugKeyStroke = {
    {SCAN_NULL, u'd'},
    {EFI_SHIFT_STATE_VALID | EFI_LEFT_ALT_PRESSED | EFI_LEFT_CONTROL_PRESSED,
     EFI_TOGGLE_STATE_VALID | EFI_KEY_STATE_EXPOSED}};

struct SetupVariable {
  std::u16string_view Name;
  const EFI_GUID *Guid;
  size_t Size;
};
inline const SetupVariable kSetup{SETUP_VARIABLE_NAME, &gSetupVariableGuid, SETUP_VARIABLE_SIZE};
inline const SetupVariable kPchRc{PCH_RC_CONFIGURATION_VARIABLE_NAME, &gPchRcConfigurationVariableGuid,
                                  PCH_RC_CONFIGURATION_SIZE};
inline const SetupVariable kSocketProc{SOCKET_PROCESSOR_CORE_CONFIG_VARIABLE_NAME,
                                       &gSocketProcessorCoreConfigVariableGuid, SOCKET_PROCESSOR_CORE_CONFIG_SIZE};

// Bytes that differ from their neighbours and are never 0 or 1, so a stray write shows.
std::vector<UINT8> RecordPattern(size_t Size, UINT8 Seed);

class HotlatchBoard {
 public:
  HotlatchBoard();

  sim::Platform P;
  sim::DebugTranscript Transcript{P};
  // As stored before the driver runs.
  std::vector<UINT8> Setup = RecordPattern(SETUP_VARIABLE_SIZE, 0x11);
  std::vector<UINT8> PchRc = RecordPattern(PCH_RC_CONFIGURATION_SIZE, 0x22);
  std::vector<UINT8> SocketProc = RecordPattern(SOCKET_PROCESSOR_CORE_CONFIG_SIZE, 0x33);

  void Store(const SetupVariable &Variable, std::vector<UINT8> Bytes);
  std::vector<UINT8> Stored(const SetupVariable &Variable);
  bool IsStored(const SetupVariable &Variable);

  sim::Keyboard &AddKeyboard() { return P.Add<sim::Keyboard>(P); }
  sim::SmmVariableHandler &AddSmmVariable();  // handler and protocol
  sim::TeskService &AddTeskService();  // installed at once

  // Loads a fresh copy of the driver and runs its entry point.
  EFI_STATUS Start();
  EFI_STATUS StartAs(UINT16 Subsystem);
  sim::LoadedDriver &Driver() { return Loaded.back(); }

  // The debug messages reported so far, one rendered line each.
  std::vector<std::string> Lines() const { return Transcript.Lines(); }
  void ClearLines() { Transcript.Clear(); }

 private:
  // Every copy stays loaded: its events may still name its code.
  std::list<sim::LoadedDriver> Loaded;
};

// How often a clean start on a board made ready by Prepare calls Service, so that a test
// can fail exactly the disarm step's call (the last of its kind) or the arm step's (the one
// before). Needs no other live platform.
unsigned CallsOfCleanStart(const char *Service, const std::function<void(HotlatchBoard &)> &Prepare = {});

// The record after a key press: the two debug bytes of "Setup" set, as the platform's
// readers expect them.
std::vector<UINT8> WithByte(std::vector<UINT8> Bytes, size_t Offset, UINT8 Value);

// Lines in Haystack from the first line equal to First onwards.
std::vector<std::string> LinesFrom(const std::vector<std::string> &Haystack, std::string_view First);
bool Contains(const std::vector<std::string> &Lines, std::string_view Line);

}  // namespace hotlatch_test
