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

// Stores one argument in the next slot. FALSE when the slot would reach the format: checked
// before the store, not after it as in EDK II, so that a run of '*' cannot write past the
// record before the check sees it.
static BOOLEAN StoreArgument(UINT64 *Slots, UINTN *Used, CONST CHAR8 *FormatString, UINT64 Value, UINTN Bytes) {
  CONST UINT64 *BaseListMarker;

  BaseListMarker = Slots + *Used + 1;
  ASSERT((CHAR8 *)BaseListMarker <= FormatString);
  if ((CONST CHAR8 *)BaseListMarker > FormatString) {
    return FALSE;
  }
  CopyMem(&Slots[*Used], &Value, Bytes);
  (*Used)++;
  return TRUE;
}

// Packs the arguments the format names into the record's slots, in the order the listener
// reads them back. FALSE when a 13th slot would be needed: it would overwrite the format.
static BOOLEAN PackArguments(CONST CHAR8 *Format, UINT64 *Slots, CONST CHAR8 *FormatString, va_list Marker) {
  UINTN Used;

  Used = 0;
  for (; *Format != '\0'; Format++) {
    BOOLEAN Long;

    if (*Format != '%') {
      continue;
    }
    Long = FALSE;
    for (Format++;; Format++) {
      if (IsFlagOrWidth(*Format)) {
        continue;
      }
      if (*Format == 'l' || *Format == 'L') {
        Long = TRUE;
        continue;
      }
      if (*Format == '*') {
        if (!StoreArgument(Slots, &Used, FormatString, va_arg(Marker, UINTN), sizeof(UINTN))) {
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
        if (!StoreArgument(Slots, &Used, FormatString, (UINT64)va_arg(Marker, VOID *), sizeof(VOID *))) {
          return FALSE;
        }
        break;
      case 'd':
      case 'u':
      case 'x':
      case 'X':
        if (Long ? !StoreArgument(Slots, &Used, FormatString, (UINT64)va_arg(Marker, INT64), sizeof(INT64))
                 : !StoreArgument(Slots, &Used, FormatString, (UINT64)(UINT32)va_arg(Marker, INT32), sizeof(INT32))) {
          return FALSE;
        }
        break;
      case 's':
      case 'S':
      case 'a':
      case 'g':
      case 't':
        if (!StoreArgument(Slots, &Used, FormatString, (UINT64)va_arg(Marker, VOID *), sizeof(VOID *))) {
          return FALSE;
        }
        break;
      case 'c':
        if (!StoreArgument(Slots, &Used, FormatString, va_arg(Marker, UINTN), sizeof(UINTN))) {
          return FALSE;
        }
        break;
      case 'r':
        if (!StoreArgument(Slots, &Used, FormatString, va_arg(Marker, RETURN_STATUS), sizeof(RETURN_STATUS))) {
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
  DEBUG_INFO_RECORD *Record;
  UINT64 *Slots;
  UINT64 Buffer[kDebugPrintBufferWords];

  while (Format[FormatSize] != '\0') {
    if (++FormatSize >= kDebugInfoFormatMaxSize) {
      return;
    }
  }
  FormatSize++;

  ZeroMem(Buffer, sizeof(Buffer));
  Record = (DEBUG_INFO_RECORD *)((UINT8 *)Buffer + kDebugInfoSizeBias);
  Record->ErrorLevel = (UINT32)ErrorLevel;
  CopyMem(Record->Format, Format, FormatSize);

  Slots = Buffer + 1;
  if (!PackArguments(Record->Format, Slots, Record->Format, Marker)) {
    return;
  }

  REPORT_STATUS_CODE_EX(kDebugMessageCodeType, kDebugMessageCodeValue, 0, NULL, &gEfiStatusCodeDataTypeDebugGuid,
                        Record, DebugInfoReportedSize(FormatSize));
}

VOID DebugPrint(UINTN ErrorLevel, CONST CHAR8 *Format, ...) {
  va_list Marker;

  ASSERT(Format != NULL_FOR_ASSERT);
  if ((ErrorLevel & GetDebugPrintErrorLevel()) == 0 || Format == NULL) {
    return;
  }
  va_start(Marker, Format);
  DebugPrintMarker(ErrorLevel, Format, Marker);
  va_end(Marker);
}

// A failure inside the reporting path must not report again for ever.
static BOOLEAN mDebugAssertReporting = FALSE;

VOID DebugAssert(CONST CHAR8 *FileName, UINTN LineNumber, CONST CHAR8 *Description) {
  UINTN HeaderSize;
  UINTN FileNameSize;
  UINTN DescriptionSize;
  EFI_DEBUG_ASSERT_DATA *AssertData;
  CHAR8 *Text;
  UINT64 Buffer[kDebugAssertRecordMaxSize / sizeof(UINT64)];

  if (mDebugAssertReporting) {
    return;
  }
  mDebugAssertReporting = TRUE;

  if (FileName == NULL) {
    FileName = "";
  }
  if (Description == NULL) {
    Description = "";
  }

  static_assert(sizeof(Buffer) == kDebugAssertRecordMaxSize, "assert record buffer");
  ZeroMem(Buffer, sizeof(Buffer));
  HeaderSize = sizeof(EFI_DEBUG_ASSERT_DATA);
  FileNameSize = AsciiStrSize(FileName);
  DescriptionSize = AsciiStrSize(Description);

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

  AssertData = (EFI_DEBUG_ASSERT_DATA *)Buffer;
  AssertData->LineNumber = (UINT32)LineNumber;
  Text = (CHAR8 *)(AssertData + 1);
  CopyMem(Text, FileName, FileNameSize);
  Text[FileNameSize - 1] = '\0';
  Text += FileNameSize;
  CopyMem(Text, Description, DescriptionSize);
  Text[DescriptionSize - 1] = '\0';

  REPORT_STATUS_CODE_EX(kDebugAssertCodeType, kDebugAssertCodeValue, 0, NULL, NULL, AssertData,
                        HeaderSize + FileNameSize + DescriptionSize);
  mDebugAssertReporting = FALSE;

  if ((PcdDebugPropertyMask & DEBUG_PROPERTY_ASSERT_BREAKPOINT_ENABLED) != 0) {
    CpuBreakpoint();
  } else if ((PcdDebugPropertyMask & DEBUG_PROPERTY_ASSERT_DEADLOOP_ENABLED) != 0) {
    CpuDeadLoop();
  }
}
