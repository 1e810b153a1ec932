// Where the loaded transport looks for the BMC: the platform's SMBIOS type 38 structure,
// read whenever it is there by the time a request comes, else the default ports.
#include "KcsFixture.h"

#include <sim/peers/SmbiosTable.h>

#include <cstring>

namespace kcs_test {
namespace {

std::vector<UINT8> Type38(UINT8 InterfaceType, UINT64 BaseField, UINT8 Modifier) {
  std::vector<UINT8> Formatted(0x12, 0);
  Formatted[0] = 38;
  Formatted[4] = InterfaceType;
  Formatted[5] = 0x20;  // IPMI 2.0
  Formatted[6] = 0x20;  // the BMC's I2C address
  std::memcpy(&Formatted[8], &BaseField, sizeof BaseField);
  Formatted[0x10] = Modifier;
  return Formatted;
}

class KcsLocateTest : public KcsTest {
 protected:
  bool Reaches() { return Send(kSataInfoHeader, {1, 2, 3}).Status == EFI_SUCCESS; }
};

TEST_F(KcsLocateTest, FirstUsableKcsStructureNamesThePorts) {
  auto &Smbios = P.Add<sim::SmbiosTable>(P);
  Smbios.Add(std::vector<UINT8>(0x1B, 0), {});  // type 0 without strings
  Smbios.AddBytes({38, 0x06, 0, 0, 1, 0x20, 0, 0});  // cut short
  Smbios.Add(Type38(4, 0x21, 0x00), {});  // SSIF
  Smbios.Add(Type38(1, 0xFED40000, 0x00), {});  // memory-mapped
  Smbios.Add(Type38(1, 0xCA9, 0x40), {});  // 0xCA8, 32-bit spacing
  Smbios.Add(Type38(1, 0xCA3, 0x00), {});  // a second one is never reached
  Device(0xCA8, 0xCAC);
  StartTransport();
  EXPECT_TRUE(Reaches());
  EXPECT_EQ(Device_->Requests().size(), 1u);
}

TEST_F(KcsLocateTest, WithoutAUsableStructureTheDefaultPortsAreUsed) {
  auto &Smbios = P.Add<sim::SmbiosTable>(P);
  Smbios.Add(Type38(1, 0xCA3, 0xC0), {});  // reserved spacing
  Smbios.Add(std::vector<UINT8>{127, 0, 0, 0}, {});
  Device();
  StartTransport();
  EXPECT_TRUE(Reaches());
}

TEST_F(KcsLocateTest, TableThatAppearsAfterTheFirstRequestIsStillRead) {
  Device(0xCA8, 0xCAC);
  StartTransport();
  EXPECT_EQ(Send(kSataInfoHeader, {1}).Status, EFI_DEVICE_ERROR) << "nothing at the default ports";
  auto &Smbios = P.Add<sim::SmbiosTable>(P);
  Smbios.Add(Type38(1, 0xCA9, 0x40), {});
  EXPECT_TRUE(Reaches());
  const size_t Reads = Smbios.Calls().size();
  EXPECT_TRUE(Reaches());
  EXPECT_EQ(Smbios.Calls().size(), Reads) << "once found, the table is not read again";
}

TEST_F(KcsLocateTest, EndlessTableIsReadNoFurtherThanABound) {
  auto &Smbios = P.Add<sim::SmbiosTable>(P);
  for (int Index = 0; Index < 200; Index++) {
    Smbios.Add(Type38(2, 0xCA3, 0x00), {});  // SMIC, not ours
  }
  Device();
  StartTransport();
  EXPECT_TRUE(Reaches());
  EXPECT_LE(Smbios.Calls().size(), 64u);
}

}  // namespace
}  // namespace kcs_test
