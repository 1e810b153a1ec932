// Writes the inventory images and SATA_INFO messages the ipmi_sim test sends, built from the
// shared wire layout: bmc_test_images FOLDER.
#include <DecodeTestImages.h>

#include <filesystem>
#include <fstream>
#include <iostream>

namespace {

void Write(const std::filesystem::path &Path, const DecodeTest::Bytes &Content) {
  std::ofstream Out(Path, std::ios::binary);
  Out.write(reinterpret_cast<const char *>(Content.data()), static_cast<std::streamsize>(Content.size()));
}

}  // namespace

int main(int Argc, char **Argv) {
  if (Argc != 2) {
    std::cerr << "usage: bmc_test_images FOLDER\n";
    return 2;
  }
  std::filesystem::path Folder = Argv[1];
  std::filesystem::create_directories(Folder);
  // The largest image, and a smaller one from another boot of the same board.
  Write(Folder / "full.bin", DecodeTest::BuildImage(DecodeTest::FullBoard()));
  DecodeTest::ImageParts Smaller = DecodeTest::FullBoard();
  Smaller.Cpus.resize(1);
  Smaller.Dimms.resize(4);
  Smaller.Pcis.resize(6);
  Smaller.BiosVersion = "R01.02.0004";
  Write(Folder / "second.bin", DecodeTest::BuildImage(Smaller));
  Write(Folder / "sata-drive.bin", DecodeTest::SataMessage(0, 0x01, 1, "SAMSUNG MZ7LH960", "S45NNA0M123456", 960));
  Write(Folder / "sata-empty.bin", DecodeTest::SataMessage(1, 0x02, 0, "", "", 0));
  return 0;
}
