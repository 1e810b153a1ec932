// Console output, status codes, HOB list and configuration tables, memory services.
#include "sim/Hob.h"
#include "sim/Platform.h"
#include "crc32/Crc32.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr EFI_GUID kGuid = {0xEEEE0001, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST(Console, WritesAreRecordedAtTheCursorAndMoveIt) {
  sim::Platform P;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Out = P.SystemTable()->ConOut;
  ASSERT_EQ(Out->SetCursorPosition(Out, 5, 3), EFI_SUCCESS);
  ASSERT_EQ(Out->OutputString(Out, u"Ready\n"), EFI_SUCCESS);
  ASSERT_EQ(Out->OutputString(Out, u"ab"), EFI_SUCCESS);
  ASSERT_EQ(P.Console().size(), 2u);
  EXPECT_EQ(P.Console()[0].Column, 5);
  EXPECT_EQ(P.Console()[0].Row, 3);
  EXPECT_EQ(P.Console()[0].Text, u"Ready\n");
  EXPECT_EQ(P.Console()[1].Row, 4);
  EXPECT_EQ(Out->Mode->CursorRow, 4);
  EXPECT_EQ(Out->SetCursorPosition(Out, 80, 0), EFI_UNSUPPORTED);
  EXPECT_EQ(Out->OutputString(Out, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(P.Console().size(), 2u);
  VOID *Interface = nullptr;
  EXPECT_EQ(
      P.BootServices()->HandleProtocol(P.SystemTable()->ConsoleOutHandle, &gEfiSimpleTextOutProtocolGuid, &Interface),
      EFI_SUCCESS);
  EXPECT_EQ(Interface, Out);
}

TEST(StatusCodes, ReportsAreCopiedWithHeaderAndPayload) {
  sim::Platform P;
  EFI_STATUS_CODE_PROTOCOL *Protocol = nullptr;
  ASSERT_EQ(P.BootServices()->LocateProtocol(&gEfiStatusCodeRuntimeProtocolGuid, nullptr,
                                             reinterpret_cast<VOID **>(&Protocol)),
            EFI_SUCCESS);
  struct {
    EFI_STATUS_CODE_DATA Header;
    UINT8 Payload[3];
  } Record{{20, 3, gEfiStatusCodeDataTypeDebugGuid}, {0xA, 0xB, 0xC}};
  ASSERT_EQ(Protocol->ReportStatusCode(EFI_DEBUG_CODE, 0x1234, 7, &kGuid, &Record.Header), EFI_SUCCESS);
  Record.Payload[0] = 0;  // the platform kept its own copy
  ASSERT_EQ(P.StatusCodes().size(), 1u);
  const auto &Report = P.StatusCodes()[0];
  EXPECT_EQ(Report.Type, static_cast<EFI_STATUS_CODE_TYPE>(EFI_DEBUG_CODE));
  EXPECT_EQ(Report.Instance, 7u);
  ASSERT_TRUE(Report.CallerId.has_value());
  EXPECT_TRUE(GuidEquals(*Report.CallerId, kGuid));
  ASSERT_EQ(Report.Data.size(), 23u);
  EXPECT_EQ(Report.Data[20], 0xA);

  EFI_STATUS_CODE_DATA Bad{4, 0, kGuid};
  EXPECT_NONFATAL_FAILURE(Protocol->ReportStatusCode(EFI_DEBUG_CODE, 0, 0, nullptr, &Bad), "data header size of 4");

  P.RemoveStatusCodeProtocol();
  VOID *Interface = nullptr;
  EXPECT_EQ(P.BootServices()->LocateProtocol(&gEfiStatusCodeRuntimeProtocolGuid, nullptr, &Interface), EFI_NOT_FOUND);
}

TEST(HobList, BuiltListIsInstalledAsAConfigurationTableAndWalksToTheEnd) {
  sim::Platform P;
  const UINT8 Mask[4] = {0x40, 0, 0, 0x80};
  const UINT8 Other[2] = {1, 2};
  P.SetHobList(sim::HobListBuilder().AddHob(EFI_HOB_TYPE_RESOURCE_DESCRIPTOR, Other).AddGuidHob(kGuid, Mask).Build());

  EFI_SYSTEM_TABLE *St = P.SystemTable();
  ASSERT_EQ(St->NumberOfTableEntries, 1u);
  ASSERT_TRUE(GuidEquals(St->ConfigurationTable[0].VendorGuid, gEfiHobListGuid));
  const auto *Hob = static_cast<const UINT8 *>(St->ConfigurationTable[0].VendorTable);
  ASSERT_EQ(reinterpret_cast<uintptr_t>(Hob) % 8, 0u);

  std::vector<UINT16> Types;
  std::vector<UINT16> Lengths;
  for (int Guard = 0; Guard < 10; Guard++) {
    EFI_HOB_GENERIC_HEADER Header;
    std::memcpy(&Header, Hob, sizeof Header);
    Types.push_back(Header.HobType);
    Lengths.push_back(Header.HobLength);
    if (Header.HobType == EFI_HOB_TYPE_END_OF_HOB_LIST) {
      break;
    }
    if (Header.HobType == EFI_HOB_TYPE_GUID_EXTENSION) {
      EXPECT_EQ(std::memcmp(Hob + 8, &kGuid, sizeof kGuid), 0);
      EXPECT_EQ(std::memcmp(Hob + 24, Mask, sizeof Mask), 0);
    }
    Hob += Header.HobLength;
  }
  EXPECT_EQ(Types, (std::vector<UINT16>{EFI_HOB_TYPE_RESOURCE_DESCRIPTOR, EFI_HOB_TYPE_GUID_EXTENSION,
                                        EFI_HOB_TYPE_END_OF_HOB_LIST}));
  EXPECT_EQ(Lengths, (std::vector<UINT16>{16, 32, 8})) << "lengths padded to 8 bytes";

  auto Unpadded = sim::HobListBuilder().AddUnpaddedGuidHob(kGuid, Mask).Build();
  EXPECT_EQ(Unpadded[2], 28);
}

TEST(ConfigurationTables, InstallReplaceAndRemoveKeepTheSystemTableConsistent) {
  sim::Platform P;
  EFI_SYSTEM_TABLE *St = P.SystemTable();
  const UINTN Before = St->NumberOfTableEntries;  // the platform's own HOB list
  int A = 0, B = 0;
  ASSERT_EQ(P.BootServices()->InstallConfigurationTable(&kGuid, &A), EFI_SUCCESS);
  ASSERT_EQ(P.BootServices()->InstallConfigurationTable(&kGuid, &B), EFI_SUCCESS);
  ASSERT_EQ(St->NumberOfTableEntries, Before + 1);
  EXPECT_EQ(St->ConfigurationTable[Before].VendorTable, &B);
  const UINT32 Crc = St->Hdr.CRC32;
  EFI_SYSTEM_TABLE Copy = *St;
  Copy.Hdr.CRC32 = 0;
  EXPECT_EQ(crc32::Crc32(&Copy, sizeof Copy), Crc) << "the table CRC follows the change";
  ASSERT_EQ(P.BootServices()->InstallConfigurationTable(&kGuid, nullptr), EFI_SUCCESS);
  EXPECT_EQ(St->NumberOfTableEntries, Before);
  EXPECT_EQ(P.BootServices()->InstallConfigurationTable(&kGuid, nullptr), EFI_NOT_FOUND);
}

TEST(MemoryServices, CrcCopyAndSet) {
  sim::Platform P;
  EFI_BOOT_SERVICES *Bs = P.BootServices();
  EXPECT_EQ(crc32::Crc32("123456789", 9), 0xCBF43926u);
  UINT32 Crc = 0;
  ASSERT_EQ(Bs->CalculateCrc32("123456789", 9, &Crc), EFI_SUCCESS);
  EXPECT_EQ(Crc, 0xCBF43926u);
  EXPECT_EQ(Bs->CalculateCrc32("1", 0, &Crc), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->CalculateCrc32(nullptr, 1, &Crc), EFI_INVALID_PARAMETER);

  UINT8 Buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  Bs->CopyMem(Buffer + 2, Buffer, 4);  // overlapping
  EXPECT_EQ(std::vector<UINT8>(Buffer, Buffer + 8), (std::vector<UINT8>{1, 2, 1, 2, 3, 4, 7, 8}));
  Bs->SetMem(Buffer, 3, 0xEE);
  EXPECT_EQ(Buffer[2], 0xEE);
  EXPECT_EQ(Buffer[3], 2);
  EXPECT_NONFATAL_FAILURE(Bs->CopyMem(nullptr, Buffer, 1), "CopyMem with a NULL buffer");
}

}  // namespace
