#include "HotlatchBoard.h"

#include <Guid/DebugMessageConfig.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace hotlatch_test {

std::vector<UINT8> RecordPattern(size_t Size, UINT8 Seed) {
  std::vector<UINT8> Bytes(Size);
  for (size_t Index = 0; Index < Size; Index++) {
    Bytes[Index] = static_cast<UINT8>(2 + (Seed + Index * 7) % 250);
  }
  return Bytes;
}

std::vector<UINT8> WithByte(std::vector<UINT8> Bytes, size_t Offset, UINT8 Value) {
  Bytes.at(Offset) = Value;
  return Bytes;
}

HotlatchBoard::HotlatchBoard() {
  Store(kSetup, Setup);
  Store(kPchRc, PchRc);
  Store(kSocketProc, SocketProc);
  // Preset 1 of "DebugMessageConfig": DEBUG_INFO only, which is every message of the driver.
  std::vector<UINT8> DebugConfig(23, 0);
  DebugConfig[0] = 1;
  P.Variables().Put(u"DebugMessageConfig", gDebugMessageConfigGuid, SETUP_OPTION_ATTRIBUTES, DebugConfig);
}

void HotlatchBoard::Store(const SetupVariable &Variable, std::vector<UINT8> Bytes) {
  P.Variables().Put(Variable.Name, *Variable.Guid, SETUP_OPTION_ATTRIBUTES, std::move(Bytes));
}

std::vector<UINT8> HotlatchBoard::Stored(const SetupVariable &Variable) {
  const sim::VariableStore::Variable *Found = P.Variables().Find(Variable.Name, *Variable.Guid);
  return Found == nullptr ? std::vector<UINT8>{} : Found->Data;
}

bool HotlatchBoard::IsStored(const SetupVariable &Variable) {
  return P.Variables().Find(Variable.Name, *Variable.Guid) != nullptr;
}

sim::SmmVariableHandler &HotlatchBoard::AddSmmVariable() {
  sim::SmmVariableHandler &Handler = P.Add<sim::SmmVariableHandler>(P);
  Handler.InstallProtocol();
  return Handler;
}

sim::TeskService &HotlatchBoard::AddTeskService() {
  sim::TeskService &Service = P.Add<sim::TeskService>(P);
  Service.Install();
  return Service;
}

EFI_STATUS HotlatchBoard::Start() {
  Loaded.push_back(P.Load(sim::DriverImage::Hotlatch));
  return Loaded.back().Start();
}

EFI_STATUS HotlatchBoard::StartAs(UINT16 Subsystem) {
  Loaded.push_back(P.LoadModule(HOTLATCH_MODULE_PATH, Subsystem));
  return Loaded.back().Start();
}

unsigned CallsOfCleanStart(const char *Service, const std::function<void(HotlatchBoard &)> &Prepare) {
  HotlatchBoard Board;
  if (Prepare) {
    Prepare(Board);
  }
  EXPECT_EQ(Board.Start(), EFI_SUCCESS);
  return Board.P.Faults().Count(Service);
}

std::vector<std::string> LinesFrom(const std::vector<std::string> &Haystack, std::string_view First) {
  auto It = std::find(Haystack.begin(), Haystack.end(), First);
  return std::vector<std::string>(It, Haystack.end());
}

bool Contains(const std::vector<std::string> &Lines, std::string_view Line) {
  return std::find(Lines.begin(), Lines.end(), Line) != Lines.end();
}

}  // namespace hotlatch_test
