// Debug messages and failed assertions become status codes; the text is formatted by the
// platform's listener, never here. Record layouts: DebugRecords.h.
#include <Uefi.h>
#include <stdarg.h>
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/DebugPrintErrorLevelLib.h>
#include <Library/ReportStatusCodeLib.h>
#include <DebugRecords.h>

// The record starts 4 bytes into an 8-byte aligned buffer so that its argument slots are
// aligned. The buffer holds 4 bytes more than the largest record because the reported size
// reaches 4 bytes past the format's terminator.
static constexpr UINTN kDebugPrintBufferWords =
    (kDebugInfoSizeBias + sizeof(DEBUG_INFO_RECORD) + kDebugInfoSizeBias + sizeof(UINT64) - 1) / sizeof(UINT64);

static BOOLEAN IsFlagOrWidth(CHAR8 Character) {
  return Character == '.' || Character == '-' || Character == '+' || Character == ' ' ||
         (Character >= '0' && Character <= '9');
}

// Packs the arguments the format names into the record's slots, in the order the listener
// reads them back. FALSE when a 13th slot would be needed: it would overwrite the format.
static BOOLEAN PackArguments(CONST CHAR8 *Format, UINT64 *Slots, CONST CHAR8 *FormatString, va_list Marker) {
  UINTN Used = 0;
  auto Store = [&](UINT64 Value, UINTN Bytes) -> BOOLEAN {
    // Checked before the store, not after it as in EDK II, so that a run of '*' cannot
    // write past the record before the check sees it.
    CONST UINT64 *BaseListMarker = Slots + Used + 1;
    ASSERT((CHAR8 *)BaseListMarker <= FormatString);
    if ((CONST CHAR8 *)BaseListMarker > FormatString) {
      return FALSE;
    }
    CopyMem(&Slots[Used], &Value, Bytes);
    Used++;
    return TRUE;
  };

  for (; *Format != '\0'; Format++) {
    if (*Format != '%') {
      continue;
    }
    BOOLEAN Long = FALSE;
    for (Format++;; Format++) {
      if (IsFlagOrWidth(*Format)) {
        continue;
      }
      if (*Format == 'l' || *Format == 'L') {
        Long = TRUE;
        continue;
      }
      if (*Format == '*') {
        if (!Store(va_arg(Marker, UINTN), sizeof(UINTN))) {
          return FALSE;
        }
        continue;
      }
      break;
    }
    if (*Format == '\0') {
      break;
    }
    switch (*Format) {
      case 'p':
        if (!Store((UINT64)va_arg(Marker, VOID *), sizeof(VOID *))) {
          return FALSE;
        }
        break;
      case 'd':
      case 'u':
      case 'x':
      case 'X':
        if (Long ? !Store((UINT64)va_arg(Marker, INT64), sizeof(INT64))
                 : !Store((UINT64)(UINT32)va_arg(Marker, int), sizeof(INT32))) {
          return FALSE;
        }
        break;
      case 's':
      case 'S':
      case 'a':
      case 'g':
      case 't':
        if (!Store((UINT64)va_arg(Marker, VOID *), sizeof(VOID *))) {
          return FALSE;
        }
        break;
      case 'c':
        if (!Store(va_arg(Marker, UINTN), sizeof(UINTN))) {
          return FALSE;
        }
        break;
      case 'r':
        if (!Store(va_arg(Marker, RETURN_STATUS), sizeof(RETURN_STATUS))) {
          return FALSE;
        }
        break;
      default:
        break;
    }
  }
  return TRUE;
}

// Kept out of line: a message the mask filters out then pays only for DebugPrint's own
// short frame, not for the record buffer.
__attribute__((noinline)) static VOID DebugPrintMarker(UINTN ErrorLevel, CONST CHAR8 *Format, va_list Marker) {
  // A format that does not fit the record is dropped without notice.
  UINTN FormatSize = 0;
  while (Format[FormatSize] != '\0') {
    if (++FormatSize >= kDebugInfoFormatMaxSize) {
      return;
    }
  }
  FormatSize++;

  UINT64 Buffer[kDebugPrintBufferWords] = {};
  DEBUG_INFO_RECORD *Record =
      reinterpret_cast<DEBUG_INFO_RECORD *>(reinterpret_cast<UINT8 *>(Buffer) + kDebugInfoSizeBias);
  Record->ErrorLevel = (UINT32)ErrorLevel;
  CopyMem(Record->Format, Format, FormatSize);

  UINT64 *Slots = Buffer + 1;
  if (!PackArguments(Record->Format, Slots, Record->Format, Marker)) {
    return;
  }

  REPORT_STATUS_CODE_EX(kDebugMessageCodeType, kDebugMessageCodeValue, 0, nullptr, &gEfiStatusCodeDataTypeDebugGuid,
                        Record, DebugInfoReportedSize(FormatSize));
}

VOID DebugPrint(UINTN ErrorLevel, CONST CHAR8 *Format, ...) {
  ASSERT(Format != NULL_FOR_ASSERT);
  if ((ErrorLevel & GetDebugPrintErrorLevel()) == 0 || Format == nullptr) {
    return;
  }
  va_list Marker;
  va_start(Marker, Format);
  DebugPrintMarker(ErrorLevel, Format, Marker);
  va_end(Marker);
}

// A failure inside the reporting path must not report again for ever.
static BOOLEAN mDebugAssertReporting = FALSE;

VOID DebugAssert(CONST CHAR8 *FileName, UINTN LineNumber, CONST CHAR8 *Description) {
  if (mDebugAssertReporting) {
    return;
  }
  mDebugAssertReporting = TRUE;

  if (FileName == nullptr) {
    FileName = "";
  }
  if (Description == nullptr) {
    Description = "";
  }

  UINT64 Buffer[kDebugAssertRecordMaxSize / sizeof(UINT64)] = {};
  static_assert(sizeof(Buffer) == kDebugAssertRecordMaxSize, "assert record buffer");
  UINTN HeaderSize = sizeof(EFI_DEBUG_ASSERT_DATA);
  UINTN FileNameSize = AsciiStrSize(FileName);
  UINTN DescriptionSize = AsciiStrSize(Description);

  // The description gives way first; a path that alone does not fit is cut and the
  // description left empty.
  if (HeaderSize + FileNameSize + DescriptionSize > sizeof(Buffer)) {
    if (HeaderSize + FileNameSize < sizeof(Buffer)) {
      DescriptionSize = sizeof(Buffer) - HeaderSize - FileNameSize;
    } else {
      DescriptionSize = 1;
      FileNameSize = sizeof(Buffer) - HeaderSize - DescriptionSize;
    }
  }

  EFI_DEBUG_ASSERT_DATA *AssertData = reinterpret_cast<EFI_DEBUG_ASSERT_DATA *>(Buffer);
  AssertData->LineNumber = (UINT32)LineNumber;
  CHAR8 *Text = reinterpret_cast<CHAR8 *>(AssertData + 1);
  CopyMem(Text, FileName, FileNameSize);
  Text[FileNameSize - 1] = '\0';
  Text += FileNameSize;
  CopyMem(Text, Description, DescriptionSize);
  Text[DescriptionSize - 1] = '\0';

  REPORT_STATUS_CODE_EX(kDebugAssertCodeType, kDebugAssertCodeValue, 0, nullptr, nullptr, AssertData,
                        HeaderSize + FileNameSize + DescriptionSize);
  mDebugAssertReporting = FALSE;

  if ((PcdDebugPropertyMask & DEBUG_PROPERTY_ASSERT_BREAKPOINT_ENABLED) != 0) {
    CpuBreakpoint();
  } else if ((PcdDebugPropertyMask & DEBUG_PROPERTY_ASSERT_DEADLOOP_ENABLED) != 0) {
    CpuDeadLoop();
  }
}
