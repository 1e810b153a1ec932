// The handler's checks as plain functions: ranges, the capture into MMRAM and the request
// decoding, each refusal proven on its own.
#include "SsvsPackets.h"

#include <ssvshandler/SsvsPacket.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace ssvs_test {
namespace {

UINT64 Address(const void *Pointer) { return reinterpret_cast<uintptr_t>(Pointer); }

// A copy buffer as the handler keeps it: 8-byte aligned, filled with a mark so that a copy
// that should not have happened shows.
struct CopyBuffer {
  std::unique_ptr<UINT64[]> Words{new UINT64[SSVS_MAX_PACKET_SIZE / 8]};
  CopyBuffer() { std::fill_n(Words.get(), SSVS_MAX_PACKET_SIZE / 8, 0xCCCCCCCCCCCCCCCCULL); }
  UINT8 *Bytes() { return reinterpret_cast<UINT8 *>(Words.get()); }
  bool Untouched() const {
    return std::all_of(Words.get(), Words.get() + SSVS_MAX_PACKET_SIZE / 8,
                       [](UINT64 Word) { return Word == 0xCCCCCCCCCCCCCCCCULL; });
  }
};

TEST(SsvsRanges, OverlapIsDecidedAtEachEdge) {
  const SSVS_MEMORY_RANGE Smram[] = {{0x1000, 0x1000}, {0x8000, 0x100}};
  EXPECT_FALSE(SsvsRangeOverlaps(0x0, 0x1000, Smram, 2));  // ends right below
  EXPECT_TRUE(SsvsRangeOverlaps(0x0, 0x1001, Smram, 2));  // last byte is the first of MMRAM
  EXPECT_TRUE(SsvsRangeOverlaps(0x1FFF, 0x10, Smram, 2));  // starts on MMRAM's last byte
  EXPECT_FALSE(SsvsRangeOverlaps(0x2000, 0x10, Smram, 2));  // starts right above
  EXPECT_TRUE(SsvsRangeOverlaps(0x1200, 0x10, Smram, 2));  // inside
  EXPECT_TRUE(SsvsRangeOverlaps(0x0, 0x10000, Smram, 2));  // around both
  EXPECT_TRUE(SsvsRangeOverlaps(0x80FF, 1, Smram, 2));  // the second range counts too
  EXPECT_FALSE(SsvsRangeOverlaps(0x1200, 0, Smram, 2));  // an empty buffer touches nothing
  EXPECT_FALSE(SsvsRangeOverlaps(0x1200, 0x10, Smram, 0));
}

TEST(SsvsRanges, WrappingBuffersAndRangesCoverTheTop) {
  const SSVS_MEMORY_RANGE Low[] = {{0x1000, 0x1000}};
  EXPECT_TRUE(SsvsRangeOverlaps(MAX_UINTN - 0xF, 0x10 + 0x10, Low, 1));  // wraps: refused whatever MMRAM is
  EXPECT_FALSE(SsvsRangeOverlaps(MAX_UINTN - 0xF, 0x10, Low, 1));  // ends on the last byte
  const SSVS_MEMORY_RANGE Wrapping[] = {{MAX_UINTN - 0xFF, 0x1000}};
  EXPECT_TRUE(SsvsRangeOverlaps(MAX_UINTN - 0x10, 0x8, Wrapping, 1));
  EXPECT_FALSE(SsvsRangeOverlaps(0x0, 0x100, Wrapping, 1));  // a bad description does not reach address 0
}

TEST(SsvsCapture, CopiesAnHonestPacket) {
  std::vector<UINT8> Packet = BuildPacket();
  CopyBuffer Copy;
  const SSVS_MEMORY_RANGE Smram[] = {{Address(Copy.Bytes()), SSVS_MAX_PACKET_SIZE}};
  ASSERT_EQ(SsvsCapturePacket(Address(Packet.data()), Packet.size(), Smram, 1, Copy.Bytes(), SSVS_MAX_PACKET_SIZE),
            EFI_SUCCESS);
  EXPECT_TRUE(std::equal(Packet.begin(), Packet.end(), Copy.Bytes()));
}

TEST(SsvsCapture, RefusesBoundsBeforeReadingAByte) {
  std::vector<UINT8> Packet = BuildPacket();
  const UINT64 Base = Address(Packet.data());
  const UINT64 Size = Packet.size();
  struct Case {
    const char *What;
    UINT64 Address;
    UINT64 Size;
    SSVS_MEMORY_RANGE Smram;
    EFI_STATUS Expected;
  };
  const Case Cases[] = {
      {"inside MMRAM", Base, Size, {Base - 0x100, Size + 0x200}, EFI_ACCESS_DENIED},
      {"running into MMRAM", Base, Size, {Base + Size - 1, 0x1000}, EFI_ACCESS_DENIED},
      {"starting on MMRAM's last byte", Base, Size, {Base - 0x1000, 0x1001}, EFI_ACCESS_DENIED},
      // Unmapped addresses: a read would crash the test, so a refusal proves none happened.
      {"wrapping past the top", MAX_UINTN - 0x20, 0x40, {0x1000, 0x1000}, EFI_ACCESS_DENIED},
      {"size plus 16 wrapping", MAX_UINTN - 15, 0x40, {0x1000, 0x1000}, EFI_ACCESS_DENIED},
      {"at address 0", 0, Size, {0x100000, 0x1000}, EFI_INVALID_PARAMETER},
      {"smaller than a header and a request",
       Base,
       SMI_VARIABLE_PACKET_REQUEST_OFFSET + 33,
       {0x1000, 0x1000},
       EFI_INVALID_PARAMETER},
      {"above the largest packet", Base, SSVS_MAX_PACKET_SIZE + 1ULL, {0x1000, 0x1000}, EFI_INVALID_PARAMETER},
      {"RBX of 2^64-1", Base, MAX_UINTN, {0x1000, 0x1000}, EFI_INVALID_PARAMETER},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.What);
    CopyBuffer Copy;
    EXPECT_EQ(SsvsCapturePacket(C.Address, C.Size, &C.Smram, 1, Copy.Bytes(), SSVS_MAX_PACKET_SIZE), C.Expected);
    EXPECT_TRUE(Copy.Untouched());
  }
}

TEST(SsvsCapture, RefusesACopyThatDisagreesWithRbx) {
  CopyBuffer Copy;
  const SSVS_MEMORY_RANGE Smram[] = {{0x1000, 0x1000}};
  std::vector<UINT8> Packet = BuildPacket();
  // RBX one short and one long of the size field (the long one reads a byte of slack).
  Packet.push_back(0);
  EXPECT_EQ(SsvsCapturePacket(Address(Packet.data()), Packet.size() - 2, Smram, 1, Copy.Bytes(), SSVS_MAX_PACKET_SIZE),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(SsvsCapturePacket(Address(Packet.data()), Packet.size(), Smram, 1, Copy.Bytes(), SSVS_MAX_PACKET_SIZE),
            EFI_INVALID_PARAMETER);
  PacketSpec BadSignature;
  BadSignature.Signature = 0x53565354;  // "TSVS"
  std::vector<UINT8> Other = BuildPacket(BadSignature);
  EXPECT_EQ(SsvsCapturePacket(Address(Other.data()), Other.size(), Smram, 1, Copy.Bytes(), SSVS_MAX_PACKET_SIZE),
            EFI_INVALID_PARAMETER);
}

TEST(SsvsCapture, LaterChangesToTheSourceDoNotReachTheCopy) {
  std::vector<UINT8> Packet = BuildPacket({.Name = u"Setup", .Data = {9, 9, 9}});
  const std::vector<UINT8> Original = Packet;
  CopyBuffer Copy;
  const SSVS_MEMORY_RANGE Smram[] = {{0x1000, 0x1000}};
  ASSERT_EQ(SsvsCapturePacket(Address(Packet.data()), Packet.size(), Smram, 1, Copy.Bytes(), SSVS_MAX_PACKET_SIZE),
            EFI_SUCCESS);
  // The caller rewrites everything a check looked at: size fields, name, data.
  Put<UINT32>(Packet, kPacketSize, 0xFFFFFFFF);
  Put<UINT32>(Packet, kDataSize, 0xFFFFFFF0);
  Put<CHAR16>(Packet, kName + 8, u'X');
  Packet.back() = 0x77;

  SSVS_VARIABLE_WRITE Write{};
  ASSERT_EQ(SsvsParsePacket(Copy.Bytes(), Original.size(), &Write), EFI_SUCCESS);
  EXPECT_EQ(std::u16string_view(reinterpret_cast<const char16_t *>(Write.Name)), u"Setup");
  EXPECT_EQ(std::vector<UINT8>(Write.Data, Write.Data + Write.DataSize), std::vector<UINT8>({9, 9, 9}));
  EXPECT_TRUE(std::equal(Original.begin(), Original.end(), Copy.Bytes()));
}

// Parses Bytes from an aligned copy, as the handler does.
EFI_STATUS Parse(const std::vector<UINT8> &Bytes, SSVS_VARIABLE_WRITE *Write) {
  std::vector<UINT64> Aligned((Bytes.size() + 7) / 8);
  std::memcpy(Aligned.data(), Bytes.data(), Bytes.size());
  return SsvsParsePacket(reinterpret_cast<const UINT8 *>(Aligned.data()), Bytes.size(), Write);
}

TEST(SsvsParse, DecodesTheRequestFields) {
  std::vector<UINT64> Aligned(64);
  std::vector<UINT8> Packet = BuildPacket({.Name = u"PchRcConfiguration", .Data = {0xA0, 0xA1}, .Attributes = 3});
  std::memcpy(Aligned.data(), Packet.data(), Packet.size());
  const UINT8 *Copy = reinterpret_cast<const UINT8 *>(Aligned.data());
  SSVS_VARIABLE_WRITE Write{};
  ASSERT_EQ(SsvsParsePacket(Copy, Packet.size(), &Write), EFI_SUCCESS);
  EXPECT_EQ(Write.Attributes, 3u);
  EXPECT_EQ(std::memcmp(&Write.VendorGuid, &kVendor, sizeof(EFI_GUID)), 0);
  EXPECT_EQ(reinterpret_cast<const UINT8 *>(Write.Name), Copy + kName);
  EXPECT_EQ(Write.NameSize, 38u);
  EXPECT_EQ(Write.Data, Copy + kName + 38);
  EXPECT_EQ(Write.DataSize, 2u);

  // A request without data deletes the variable; it is well formed.
  ASSERT_EQ(Parse(BuildPacket({.Name = u"X", .Data = {}}), &Write), EFI_SUCCESS);
  EXPECT_EQ(Write.DataSize, 0u);
  EXPECT_EQ(Write.NameSize, 4u);
  // The largest packet served.
  std::vector<UINT8> Large(SSVS_MAX_PACKET_SIZE - kName - 12, 0x5A);
  ASSERT_EQ(Parse(BuildPacket({.Name = u"Large", .Data = Large}), &Write), EFI_SUCCESS);
  EXPECT_EQ(Write.DataSize, Large.size());
}

TEST(SsvsParse, RefusesMalformedRequests) {
  struct Case {
    const char *What;
    std::vector<UINT8> Packet;
    EFI_STATUS Expected;
  };
  std::vector<Case> Cases;
  Cases.push_back({"another request code", BuildPacket({.Function = 7}), EFI_UNSUPPORTED});
  Cases.push_back({"request code 0", BuildPacket({.Function = 0}), EFI_UNSUPPORTED});
  Cases.push_back({"a wrong marker", BuildPacket({.Marker = 2}), EFI_INVALID_PARAMETER});
  Cases.push_back(
      {"an append write", BuildPacket({.Attributes = kAttributes | EFI_VARIABLE_APPEND_WRITE}), EFI_INVALID_PARAMETER});
  Cases.push_back(
      {"an unterminated name", BuildPacket({.Name = u"Setup", .Data = {}, .Terminate = false}), EFI_INVALID_PARAMETER});
  Cases.push_back({"an empty name", BuildPacket({.Name = u"", .Data = {1, 2}}), EFI_INVALID_PARAMETER});

  std::vector<UINT8> Packet = BuildPacket();
  const UINT32 DataSize = Get<UINT32>(Packet, kDataSize);
  const size_t NameBytes = Packet.size() - kName - DataSize;
  auto WithDataSize = [&](UINT32 Value) {
    std::vector<UINT8> Bytes = Packet;
    Put<UINT32>(Bytes, kDataSize, Value);
    return Bytes;
  };
  Cases.push_back({"data past the packet", WithDataSize(DataSize + 1), EFI_INVALID_PARAMETER});
  Cases.push_back({"data of 2^32-1 bytes", WithDataSize(0xFFFFFFFF), EFI_INVALID_PARAMETER});
  Cases.push_back(
      {"data eating the whole name", WithDataSize(static_cast<UINT32>(DataSize + NameBytes)), EFI_INVALID_PARAMETER});
  Cases.push_back({"data leaving only the terminator", WithDataSize(static_cast<UINT32>(DataSize + NameBytes - 2)),
                   EFI_INVALID_PARAMETER});
  Cases.push_back({"data leaving an odd name size", WithDataSize(DataSize + 1 - 2), EFI_INVALID_PARAMETER});
  // The name's bytes end in the middle of the data: its terminator is not where the data begins.
  Cases.push_back({"data shorter than it says", WithDataSize(DataSize - 2), EFI_INVALID_PARAMETER});
  std::vector<UINT8> EarlyNull = Packet;
  Put<CHAR16>(EarlyNull, kName + 4, 0);
  Cases.push_back({"a null inside the name", EarlyNull, EFI_INVALID_PARAMETER});
  std::vector<UINT8> Short(kName + 2, 0);
  Cases.push_back({"no room for a name", Short, EFI_INVALID_PARAMETER});

  for (const Case &C : Cases) {
    SCOPED_TRACE(C.What);
    SSVS_VARIABLE_WRITE Write{};
    EXPECT_EQ(Parse(C.Packet, &Write), C.Expected);
    EXPECT_EQ(Write.Name, nullptr);
  }
}

TEST(SsvsParse, RefusesAnUnalignedCopy) {
  std::vector<UINT64> Aligned(16);
  std::vector<UINT8> Packet = BuildPacket({.Name = u"A", .Data = {}});
  UINT8 *Odd = reinterpret_cast<UINT8 *>(Aligned.data()) + 2;
  std::memcpy(Odd, Packet.data(), Packet.size());
  SSVS_VARIABLE_WRITE Write{};
  EXPECT_EQ(SsvsParsePacket(Odd, Packet.size(), &Write), EFI_INVALID_PARAMETER);
  EXPECT_EQ(SsvsParsePacket(nullptr, Packet.size(), &Write), EFI_INVALID_PARAMETER);
}

TEST(SsvsStatus, WrittenOnlyInsideThePacketAndClearOfMmram) {
  const SSVS_MEMORY_RANGE Smram[] = {{0x10000, 0x1000}};
  EXPECT_TRUE(SsvsStatusWritable(0x20000, 0x40, Smram, 1));
  EXPECT_TRUE(SsvsStatusWritable(0x10000 - 0x10, 0x40, Smram, 1));  // packet runs into MMRAM, status does not
  EXPECT_FALSE(SsvsStatusWritable(0x10000 - 0x8, 0x40, Smram, 1));  // the status field is MMRAM's first bytes
  EXPECT_FALSE(SsvsStatusWritable(0x10FF8 - 0x8, 0x40, Smram, 1));  // MMRAM's last bytes
  EXPECT_FALSE(SsvsStatusWritable(0x20000, 0xF, Smram, 1));  // RBX too small to hold it
  EXPECT_TRUE(SsvsStatusWritable(0x20000, SSVS_MAX_PACKET_SIZE, Smram, 1));
  EXPECT_FALSE(SsvsStatusWritable(0x20000, SSVS_MAX_PACKET_SIZE + 1ULL, Smram, 1));  // no packet is that large
  EXPECT_FALSE(SsvsStatusWritable(MAX_UINTN - 0xE, 0x40, Smram, 1));  // would wrap
  EXPECT_FALSE(SsvsStatusWritable(0, 0x40, Smram, 1));
}

}  // namespace
}  // namespace ssvs_test
