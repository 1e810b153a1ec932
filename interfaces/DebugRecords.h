// The two records a debug message and a failed assertion leave the image in, laid out byte
// for byte as EDK II's status-code listeners decode them. Shared by the debug library, the
// simulator's renderer and the tests.
#pragma once
#include <Uefi.h>

// Largest extended-data record the debug library builds.
inline constexpr UINTN kStatusCodeDataMaxSize = 200;

// --- Debug-info record: error level, 12 packed argument slots, the format string.
inline constexpr UINTN kDebugInfoSlotCount = 12;
inline constexpr UINTN kDebugInfoFormatMaxSize = 104;  // with its terminator

#pragma pack(push, 1)
struct DEBUG_INFO_RECORD {
  UINT32 ErrorLevel;
  UINT64 Slots[kDebugInfoSlotCount];
  CHAR8 Format[kDebugInfoFormatMaxSize];
};
#pragma pack(pop)
static_assert(OFFSET_OF(DEBUG_INFO_RECORD, ErrorLevel) == 0, "debug-info record");
static_assert(OFFSET_OF(DEBUG_INFO_RECORD, Slots) == 4, "debug-info record");
static_assert(OFFSET_OF(DEBUG_INFO_RECORD, Format) == 100, "debug-info record");
static_assert(sizeof(DEBUG_INFO_RECORD) == 204, "debug-info record");

// The reported size counts 4 bytes more than the record holds up to the terminator: EDK II
// adds the 4 alignment bytes in front of the record to the size but not to the pointer.
inline constexpr UINTN kDebugInfoSizeBias = 4;
inline constexpr UINTN DebugInfoReportedSize(UINTN FormatSize) {
  return kDebugInfoSizeBias + OFFSET_OF(DEBUG_INFO_RECORD, Format) + FormatSize;
}
static_assert(DebugInfoReportedSize(7) == 111, "\"Hello\\n\" is reported with 111 bytes");

// --- Debug-assert record: EFI_DEBUG_ASSERT_DATA, then file name and description, each
// terminated, 200 bytes in all at most.
struct EFI_DEBUG_ASSERT_DATA {
  EFI_STATUS_CODE_DATA DataHeader;  // left zero: the status-code library adds the real header
  UINT32 LineNumber;
  UINT32 FileNameSize;
  VOID *FileName;
};
static_assert(OFFSET_OF(EFI_DEBUG_ASSERT_DATA, LineNumber) == 20, "debug-assert record");
static_assert(OFFSET_OF(EFI_DEBUG_ASSERT_DATA, FileNameSize) == 24, "debug-assert record");
static_assert(OFFSET_OF(EFI_DEBUG_ASSERT_DATA, FileName) == 32, "debug-assert record");
static_assert(sizeof(EFI_DEBUG_ASSERT_DATA) == 40, "debug-assert record");

inline constexpr UINTN kDebugAssertRecordMaxSize = kStatusCodeDataMaxSize;
// A path that alone does not fit is cut to this many characters, the description left empty.
inline constexpr UINTN kDebugAssertMaxFileNameLength = kDebugAssertRecordMaxSize - sizeof(EFI_DEBUG_ASSERT_DATA) - 2;
static_assert(kDebugAssertMaxFileNameLength == 158, "debug-assert path limit");

// --- Status codes of the two records.
inline constexpr EFI_STATUS_CODE_TYPE kDebugMessageCodeType = EFI_DEBUG_CODE;
inline constexpr EFI_STATUS_CODE_VALUE kDebugMessageCodeValue = EFI_SOFTWARE_DXE_BS_DRIVER | EFI_DC_UNSPECIFIED;
inline constexpr EFI_STATUS_CODE_TYPE kDebugAssertCodeType = EFI_ERROR_CODE | EFI_ERROR_UNRECOVERED;
inline constexpr EFI_STATUS_CODE_VALUE kDebugAssertCodeValue =
    EFI_SOFTWARE_DXE_BS_DRIVER | EFI_SW_EC_ILLEGAL_SOFTWARE_STATE;
static_assert(kDebugAssertCodeType == 0x90000002 && kDebugAssertCodeValue == 0x03050007, "assert status code");
