// Text formatting with BasePrintLib's rules, checked twice against the same expectations:
// the image's AsciiSPrint (arguments from a va_list) and the listener's renderer (the same
// arguments packed in slots). A disagreement between them would garble the console.
// AsciiSPrint carries only the conversions the drivers format themselves; GUIDs and status
// names appear only in debug messages, so %g and %r are the listener's alone.
#include "ProbeFixture.h"

namespace supporttest {
namespace {

constexpr EFI_GUID kGuid = {0x0A1B2C3D, 0x0E0F, 0x1A2B, {0x3C, 0x4D, 0x5E, 0x6F, 0x70, 0x81, 0x92, 0xA3}};

template <class T>
UINT64 ToSlot(T Value) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<UINT64>(Value);
  } else {
    return static_cast<UINT64>(Value);
  }
}

class PrintTest : public ProbeTest {
 protected:
  void SetUp() override {
    ProbeTest::SetUp();
    ASSERT_EQ(Start(), EFI_SUCCESS);
  }

  template <class... Arguments>
  void Expect(const std::string &Expected, const char *Format, Arguments... Values) {
    CHAR8 Buffer[200];
    UINTN Length = Probe->AsciiSPrint(Buffer, sizeof Buffer, Format, Values...);
    EXPECT_EQ(std::string(Buffer), Expected) << "AsciiSPrint of \"" << Format << "\"";
    EXPECT_EQ(Length, Expected.size()) << Format;
    ExpectRendering(Expected, Format, Values...);
  }

  template <class... Arguments>
  void ExpectRendering(const std::string &Expected, const char *Format, Arguments... Values) {
    std::vector<UINT64> Slots = {ToSlot(Values)...};
    EXPECT_EQ(debug_render::FormatDebugMessage(Format, Slots), Expected)
        << "listener rendering of \"" << Format << "\"";
  }
};

TEST_F(PrintTest, HexDigitsAreUpperCaseAndCapitalXPadsWithZeros) {
  Expect("Bus= A Dev=1F Fun= 3", "Bus=%2x Dev=%2x Fun=%2x", 0xA, 0x1F, 3);
  Expect("0A 0A 123", "%2X %02x %2x", 0xA, 0xA, 0x123);
  Expect("FFFFFFFF", "%x", -1);
  Expect("FFFFFFFFFFFFFFFF", "%lx", (INT64)-1);
  Expect("1234 0000000000001234 ABCDEF0123", "%p %16p %p", (VOID *)0x1234, (VOID *)0x1234, (VOID *)0xABCDEF0123ULL);
}

TEST_F(PrintTest, DecimalSignsWidthsAndSeparators) {
  Expect("-42 -0042 +7   42|42   |", "%d %05d %+d %4d|%-5d|", -42, -42, 7, 42, 42);
  Expect("4294967295 -2147483648", "%u %d", -1, (int)0x80000000);
  Expect("-9223372036854775808 18446744073709551615", "%ld %lu", (INT64)MAX_BIT, (UINT64)MAX_UINTN);
  Expect("1,234,567 12 -1,000", "%,d %,d %,d", 1234567, 12, -1000);
  Expect("0", "%d", 0);
}

TEST_F(PrintTest, PrecisionStarWidthBlankAndLong) {
  Expect("0042|  0042|01F   |[]", "%.4d|%6.4d|%-6.3x|[%.0d]", 42, 42, 0x1F, 0);
  Expect("   42|-7  | 42|+42", "%*d|%-*d|% d|% +d", (UINTN)5, 42, (UINTN)4, -7, 42, 42);
  Expect("ABCDEF0123 00ABCDEF0123 00000000FF 12,345,678,901", "%lX %012lx %10X %,ld", 0xABCDEF0123ULL, 0xABCDEF0123ULL,
         0xFF, 12345678901LL);
}

TEST_F(PrintTest, StringsCharactersAndPercent) {
  static const char16_t Wide[] = u"Wide";
  Expect("[ascii][Wide][<null string>][abc][    ab][ab    ]", "[%a][%s][%a][%.3a][%6a][%-6a]", "ascii", Wide,
         (const char *)nullptr, "abcdef", "ab", "ab");
  Expect("Z%q", "%c%%%q", (UINTN)'Z');
  Expect("    Q|R  |[Wi]", "%5c|%-3c|[%.2s]", (UINTN)'Q', (UINTN)'R', Wide);
}

TEST_F(PrintTest, ListenerFormatsGuids) {
  ExpectRendering("0A1B2C3D-0E0F-1A2B-3C4D-5E6F708192A3 <null guid>", "%g %g", &kGuid, (const EFI_GUID *)nullptr);
}

// The image prints these conversions' own character and takes no argument for them, as for
// any conversion it does not know.
TEST_F(PrintTest, ImageLeavesGuidsTimesAndStatusNamesToTheListener) {
  CHAR8 Buffer[40];
  EXPECT_EQ(Probe->AsciiSPrint(Buffer, sizeof Buffer, "%g %t %r|%d", 5), 7u);
  EXPECT_EQ(std::string(Buffer), "g t r|5");
}

TEST_F(PrintTest, ListenerNamesStatusesFromTheOlderTable) {
  ExpectRendering("Success Warning Stale Data 00000006", "%r %r %r", EFI_SUCCESS, EFI_WARN_STALE_DATA, (EFI_STATUS)6);
  ExpectRendering("Load Error|Not Found|Compromised Data|00000022", "%r|%r|%r|%r", EFI_LOAD_ERROR, EFI_NOT_FOUND,
                  EFI_COMPROMISED_DATA, ENCODE_ERROR(34));
  ExpectRendering("00000002 Reserved (29)", "%r %r", EFI_NOT_AVAILABLE_YET, ENCODE_ERROR(29));
}

TEST_F(PrintTest, LineEndsBecomeCarriageReturnLineFeed) { Expect("a\r\nb\r\nc\r\nd\re", "a\nb\n\rc\r\nd\re"); }

TEST_F(PrintTest, OutputIsCutAtTheBufferAndAlwaysTerminated) {
  CHAR8 Buffer[8];
  std::memset(Buffer, '#', sizeof Buffer);
  EXPECT_EQ(Probe->AsciiSPrint(Buffer, 5, "abcdefgh"), 4u);
  EXPECT_EQ(std::string(Buffer), "abcd");
  EXPECT_EQ(Buffer[5], '#');
  EXPECT_EQ(Probe->AsciiSPrint(Buffer, 5, "%d", 1234567), 4u);
  EXPECT_EQ(std::string(Buffer), "1234");
  EXPECT_EQ(Probe->AsciiSPrint(Buffer, 0, "abc"), 0u);
  EXPECT_EQ(Buffer[0], '1') << "a zero-sized buffer is not touched";
  EXPECT_EQ(Probe->AsciiSPrint(Buffer, 1, "abc"), 0u);
  EXPECT_EQ(Buffer[0], '\0');
  // A format ending inside a conversion prints nothing for it.
  EXPECT_EQ(Probe->AsciiSPrint(Buffer, sizeof Buffer, "ab%"), 2u);
  EXPECT_EQ(std::string(Buffer), "ab");
}

// Corners where the conversion parsing, the number output and the string output meet: a
// conversion cut by the end of the format keeps its field width, and flags combine.
TEST_F(PrintTest, CutConversionsAndCombinedFlags) {
  CHAR8 Buffer[64];
  const auto Print = [&](const char *Format, auto... Values) {
    UINTN Length = Probe->AsciiSPrint(Buffer, sizeof Buffer, Format, Values...);
    EXPECT_EQ(Length, std::strlen(Buffer)) << Format;
    return std::string(Buffer);
  };
  EXPECT_EQ(Print("ab%5"), "ab     ");
  EXPECT_EQ(Print("[%-3l"), "[   ");
  EXPECT_EQ(Print("[%.2"), "[");
  EXPECT_EQ(Print("%+,d|% ,d|%,08d", 1234567, -1234, 5), "+1,234,567|-1,234|       5");
  EXPECT_EQ(Print("%+5d|%-+5d|%+05d|% 5x", 42, 42, 42, 0x1F), "  +42|+42  |+0042|   1F");
  EXPECT_EQ(Print("[%3.5a][%-8.2s][%.0a]", "abcdef", u"Wide", "x"), "[abcde][Wi      ][]");
  EXPECT_EQ(Print("%5%|%-3%|%03c", (UINTN)'Z'), "    %|%  |  Z");
}

}  // namespace
}  // namespace supporttest
