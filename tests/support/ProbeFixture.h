// Each test boots a fresh simulated platform and loads the support-layer probe image into
// it, so module state starts zeroed as in a real image.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <Library/DebugLib.h>
#include <Guid/DebugMessageConfig.h>

#include "SupportProbe.h"
#include "SupportProbeFileGuid.h"
#include <debug_render/DebugRender.h>
#include "sim/DebugTranscript.h"
#include "sim/Hob.h"
#include "sim/Platform.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace supporttest {

inline constexpr UINT16 kSubsystemBootServiceDriver = 11;
inline constexpr UINT16 kSubsystemRuntimeDriver = 12;

// The probe image's file GUID (from its SupportProbe*.module).
inline constexpr EFI_GUID kProbeCallerId = gSupportProbeFileGuid;

// A "DebugMessageConfig" record: byte 0 the preset, byte 4 the switch master, 5..21 switches.
inline std::vector<UINT8> Config(std::initializer_list<std::pair<size_t, UINT8>> Bytes, size_t Size = 23) {
  std::vector<UINT8> Record(Size, 0);
  for (auto [Index, Value] : Bytes) {
    Record.at(Index) = Value;
  }
  return Record;
}

class ProbeTest : public ::testing::Test {
 protected:
  sim::Platform Platform;
  std::optional<sim::DebugTranscript> Transcript;
  std::optional<sim::LoadedDriver> Image;
  const SUPPORT_PROBE *Probe = nullptr;

  void SetUp() override {
    // An empty HOB list unless a test builds one: the HOB library finds it at start.
    Platform.SetHobList(sim::HobListBuilder().Build());
    Transcript.emplace(Platform);
  }

  void TearDown() override {
    Image.reset();
    Transcript.reset();
  }

  static const char *ProbePath() { return SUPPORT_PROBE_MODULE; }
  static UINT16 ProbeSubsystem() { return SUPPORT_PROBE_SUBSYSTEM; }

  // Loads the probe (a fresh copy) and runs its entry point with the given start status.
  EFI_STATUS Start(EFI_STATUS StartStatus = EFI_SUCCESS) {
    Image.emplace(Platform.LoadModule(ProbePath(), ProbeSubsystem()));
    auto *StartStatusVariable = static_cast<EFI_STATUS *>(Image->Symbol(kSupportProbeStartStatusSymbol));
    auto Table = reinterpret_cast<SupportProbeFunction>(Image->Symbol(kSupportProbeSymbol));
    if (StartStatusVariable == nullptr || Table == nullptr) {
      ADD_FAILURE() << "the probe image exports no table";
      return EFI_LOAD_ERROR;
    }
    *StartStatusVariable = StartStatus;
    Probe = Table();
    return Image->Start();
  }

  void SetConfig(std::vector<UINT8> Record) {
    Platform.Variables().Put(u"DebugMessageConfig", gDebugMessageConfigGuid,
                             EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS,
                             std::move(Record));
  }

  // A mask that lets every level through, settled before the test's own messages.
  EFI_STATUS StartWithEverything() {
    SetConfig(Config({{4, 1}, {5, 1}, {6, 1}, {9, 1}, {21, 1}}));
    return Start();
  }

  std::vector<sim::StatusCodeReport> DebugReports() const {
    std::vector<sim::StatusCodeReport> Out;
    for (const auto &Report : Platform.StatusCodes()) {
      if (debug_render::DecodeDebugMessage(Report)) {
        Out.push_back(Report);
      }
    }
    return Out;
  }

  std::vector<debug_render::AssertMessage> Asserts() const {
    std::vector<debug_render::AssertMessage> Out;
    for (const auto &Report : Platform.StatusCodes()) {
      if (auto Message = debug_render::DecodeAssertMessage(Report)) {
        Out.push_back(*Message);
      }
    }
    return Out;
  }

  // Runs Body and returns the transcript text it produced.
  template <class Body>
  std::string TextOf(Body &&Run) {
    size_t Before = Transcript->Texts().size();
    Run();
    std::string Text;
    for (size_t Index = Before; Index < Transcript->Texts().size(); Index++) {
      Text += Transcript->Texts()[Index];
    }
    return Text;
  }
};

}  // namespace supporttest
