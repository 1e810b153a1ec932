// Writes each fuzzer's seed corpus from code: well-formed inputs of every kind, so a short
// run starts from the interesting paths instead of searching for a signature.
// Usage: fuzz_seeds <folder>; one sub-folder per fuzzer.
#include <DecodeTestImages.h>
#include <Guid/DebugMessageConfig.h>
#include <VariableRequestLayout.h>
#include <pe/PeImage.h>
#include <SyntheticPe.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
std::filesystem::path Root;

void Write(const std::string &Fuzzer, const std::string &Name, const Bytes &Content) {
  std::filesystem::create_directories(Root / Fuzzer);
  std::ofstream Out(Root / Fuzzer / Name, std::ios::binary);
  Out.write(reinterpret_cast<const char *>(Content.data()), static_cast<std::streamsize>(Content.size()));
}

template <class T>
void Append(Bytes &To, const T &Value) {
  const auto *Raw = reinterpret_cast<const uint8_t *>(&Value);
  To.insert(To.end(), Raw, Raw + sizeof(T));
}

void DebugMessageConfigSeeds() {
  Bytes Preset = {0x00, 23, 4};
  Preset.resize(2 + 23, 0);
  Write("debug_message_config", "preset4", Preset);
  Bytes Switches = {0x00, 23, 0, 0, 0, 0, 1};
  Switches.resize(2 + 23, 1);
  Write("debug_message_config", "switches", Switches);
  Write("debug_message_config", "short", {0x00, 5, 2, 0, 0, 0, 0});
  Write("debug_message_config", "hob8", {0x01, 8, 0x40, 0x00, 0x00, 0x80, 0, 0, 0, 0});
  Write("debug_message_config", "none", {0x02, 0});
}

void HobSeeds() {
  Bytes List;
  // A resource HOB, the wanted GUID HOB with 8 data bytes, the end of the list.
  Append<uint16_t>(List, 3);
  Append<uint16_t>(List, 48);
  List.resize(List.size() + 44, 0);
  Append<uint16_t>(List, 4);
  Append<uint16_t>(List, 32);
  List.resize(List.size() + 4, 0);
  Append(List, gDebugMessageConfigGuid);
  Append<uint64_t>(List, 0x80000040);
  Append<uint16_t>(List, 0xFFFF);
  Append<uint16_t>(List, 8);
  List.resize(List.size() + 4, 0);
  Write("hob_list", "guid_hob", List);
}

void PeSeeds() {
  for (bool Plus : {true, false}) {
    pe_test::SyntheticOptions Options;
    Options.Pe32Plus = Plus;
    Bytes File = pe_test::BuildSyntheticPe(Options);
    Write("pe_image", Plus ? "pe32plus" : "pe32", File);
    auto Parsed = pe::PeImage::Parse(File);
    if (Parsed) {
      if (auto Mapped = Parsed.Image->MapAtRvas()) {
        Bytes Seed = {0xFF};
        Seed.insert(Seed.end(), Mapped->begin(), Mapped->end());
        Write("pdb_lookup", Plus ? "mapped_pe32plus" : "mapped_pe32", Seed);
      }
    }
  }
  pe_test::SyntheticOptions Nb10;
  Nb10.CodeViewSignature = 0x3031424E;
  Nb10.PdbPath = "/build/a.b.pdb";
  Write("pe_image", "nb10", pe_test::BuildSyntheticPe(Nb10));

  // A TE image: header, a stripped size, the debug directory right after the header.
  Bytes Te(0x200, 0);
  Te[0] = 'V';
  Te[1] = 'Z';
  const uint16_t Stripped = 0x1F8;
  std::memcpy(&Te[6], &Stripped, 2);
  const uint32_t DirectoryRva = Stripped - 40 + 40, DirectorySize = 28;
  std::memcpy(&Te[32], &DirectoryRva, 4);
  std::memcpy(&Te[36], &DirectorySize, 4);
  const uint32_t Type = 2, DataSize = 40, DataRva = Stripped + 28;
  std::memcpy(&Te[40 + 12], &Type, 4);
  std::memcpy(&Te[40 + 16], &DataSize, 4);
  std::memcpy(&Te[40 + 20], &DataRva, 4);
  std::memcpy(&Te[40 + 28], "RSDS", 4);
  std::memcpy(&Te[40 + 28 + 24], "x\\Te.pdb", 9);
  Bytes Seed = {0xFF};
  Seed.insert(Seed.end(), Te.begin(), Te.end());
  Write("pdb_lookup", "te", Seed);
}

void SmbiosSeeds() {
  // Length byte, string number, then a type 17 structure with its strings.
  Bytes Dimm = {0x24, 3, 17, 0x28};
  Dimm.resize(4 + 0x28 - 2, 0);
  static const char kSet[] =
      "CPU0_DIMM_A1\0NODE 0\0Samsung\0"
      "1A2B3C4D";
  const std::string Set(kSet, sizeof(kSet) - 1);
  Dimm.insert(Dimm.end(), Set.begin(), Set.end());
  Write("roster_routines", "dimm", Dimm);
  Bytes Long = {0x00, 2, 4, 0x08, 0, 0, 0, 0, 0, 0};
  Long.insert(Long.end(), 300, 'x');
  Long.push_back(0);
  Long.insert(Long.end(), {'n', 'e', 'x', 't'});
  Write("roster_routines", "long_string", Long);
}

void DecodeSeeds() {
  Write("roster_decode", "full_board", DecodeTest::BuildImage(DecodeTest::FullBoard()));
  DecodeTest::ImageParts Empty;
  Write("roster_decode", "empty_board", DecodeTest::BuildImage(Empty));
  Write("roster_decode", "sata_drive", DecodeTest::SataMessage(0, 0x10, 1, "SAMSUNG MZ7LH960", "S45NNA0M123456", 960));
}

void SmiSeeds() {
  const std::u16string Name = u"Setup";
  const Bytes Data = {1, 2, 3, 4};
  const size_t NameBytes = (Name.size() + 1) * sizeof(char16_t);
  const size_t Total = SMI_VARIABLE_PACKET_REQUEST_OFFSET + VARIABLE_REQUEST_NAME_OFFSET + NameBytes + Data.size();
  Bytes Packet(Total, 0);
  SMI_VARIABLE_PACKET_HEADER Header{};
  Header.Signature = SMI_VARIABLE_PACKET_SIGNATURE;
  Header.PacketSize = (UINT32)Total;
  std::memcpy(Packet.data(), &Header, sizeof(Header));
  VARIABLE_REQUEST_HEADER Request{};
  Request.Function = VARIABLE_REQUEST_SET_VARIABLE;
  Request.Attributes = 7;
  Request.DataSize = (UINT32)Data.size();
  std::memcpy(Packet.data() + SMI_VARIABLE_PACKET_REQUEST_OFFSET, &Request, sizeof(Request));
  std::memcpy(Packet.data() + SMI_VARIABLE_PACKET_REQUEST_OFFSET + VARIABLE_REQUEST_NAME_OFFSET, Name.c_str(),
              NameBytes);
  std::memcpy(Packet.data() + Total - Data.size(), Data.data(), Data.size());
  Bytes Seed = {1, 0, 0, 0};
  Seed.insert(Seed.end(), Packet.begin(), Packet.end());
  Write("smi_packet", "setup_write", Seed);
}

void InventorySeeds() {
  // The board is read from the front of the input; these take the common paths at once.
  Write("roster_inventory", "zeros", Bytes(64, 0));
  Bytes Busy(2048);
  for (size_t Index = 0; Index < Busy.size(); Index++) {
    Busy[Index] = static_cast<uint8_t>(Index * 37 + 11);
  }
  Write("roster_inventory", "pattern", Busy);
  Write("roster_inventory", "ones", Bytes(1024, 0xFF));
}

// The BMC module's input: a fault byte, then [operation, length, bytes] records (see
// BmcModuleFuzzer.cpp): a whole small image, a SATA message, a read-back; and a transfer
// step by step with the harness's consistent OPEN, WRITEs and COMMIT.
void BmcSeeds() {
  Bytes Whole = {0x06, 4, 3, 0x40};
  Whole.resize(Whole.size() + 2, 0x11);
  Bytes Sata = {2, 65};
  Sata.resize(Sata.size() + 65, 0x20);
  Whole.insert(Whole.end(), Sata.begin(), Sata.end());
  Whole.insert(Whole.end(), {3, 0});
  Write("bmc_module", "whole_then_sata", Whole);

  Bytes Steps = {0x00, 1, 5, 0, 100, 0, 0, 0};
  for (int Write = 0; Write < 2; ++Write) {
    Steps.insert(Steps.end(), {1, 51, 1});
    Steps.resize(Steps.size() + 50, static_cast<uint8_t>(0x30 + Write));
  }
  Steps.insert(Steps.end(), {1, 1, 2, 0, 8, 1, 0, 0xC8, 0x5A, 0x43, 0, 0, 0, 3, 0});
  Write("bmc_module", "steps", Steps);
}

void KcsSeeds() {
  // Integers come from the back of the input, answers from the front: all zeros is a BMC
  // that answers everything at once, a pattern one with scripted answers and faults.
  Write("kcs_transport", "zeros", Bytes(64, 0));
  Bytes Mixed(512);
  for (size_t Index = 0; Index < Mixed.size(); Index++) {
    Mixed[Index] = static_cast<uint8_t>(Index * 53 + 7);
  }
  Write("kcs_transport", "pattern", Mixed);
  Write("kcs_transport", "ones", Bytes(256, 0xFF));
}

}  // namespace

int main(int Argc, char **Argv) {
  if (Argc != 2) {
    std::cerr << "usage: fuzz_seeds <folder>\n";
    return 2;
  }
  Root = Argv[1];
  std::filesystem::create_directories(Root);
  DebugMessageConfigSeeds();
  HobSeeds();
  PeSeeds();
  SmbiosSeeds();
  DecodeSeeds();
  SmiSeeds();
  KcsSeeds();
  InventorySeeds();
  BmcSeeds();
  return 0;
}
