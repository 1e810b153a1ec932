// DEBUG, ASSERT and ASSERT_EFI_ERROR: messages and failed assertions leave the image as
// status codes. The build settings are fixed at compile time.
#pragma once
#include <Uefi.h>

#define DEBUG_INIT 0x00000001
#define DEBUG_WARN 0x00000002
#define DEBUG_LOAD 0x00000004
#define DEBUG_FS 0x00000008
#define DEBUG_POOL 0x00000010
#define DEBUG_PAGE 0x00000020
#define DEBUG_INFO 0x00000040
#define DEBUG_DISPATCH 0x00000080
#define DEBUG_VARIABLE 0x00000100
#define DEBUG_BM 0x00000400
#define DEBUG_BLKIO 0x00001000
#define DEBUG_NET 0x00004000
#define DEBUG_UNDI 0x00010000
#define DEBUG_LOADFILE 0x00020000
#define DEBUG_EVENT 0x00080000
#define DEBUG_GCD 0x00100000
#define DEBUG_CACHE 0x00200000
#define DEBUG_VERBOSE 0x00400000
#define DEBUG_ERROR 0x80000000U
// Only the dead-loop caller report uses bit 27; it is the whole build-default mask.
#define DEBUG_DEAD_LOOP_REPORT 0x88000000U

#define DEBUG_PROPERTY_DEBUG_ASSERT_ENABLED 0x01
#define DEBUG_PROPERTY_DEBUG_PRINT_ENABLED 0x02
#define DEBUG_PROPERTY_DEBUG_CODE_ENABLED 0x04
#define DEBUG_PROPERTY_CLEAR_MEMORY_ENABLED 0x08
#define DEBUG_PROPERTY_ASSERT_BREAKPOINT_ENABLED 0x10
#define DEBUG_PROPERTY_ASSERT_DEADLOOP_ENABLED 0x20

inline constexpr UINT8 PcdDebugPropertyMask = 0x07;
inline constexpr UINT32 PcdFixedDebugPrintErrorLevel = 0xFFFFFFFF;
inline constexpr UINT32 PcdDebugPrintErrorLevel = 0x08000000;
inline constexpr UINT8 PcdReportStatusCodePropertyMask = 0x07;
inline constexpr UINT32 PcdMaximumAsciiStringLength = 1000000;
inline constexpr UINT32 PcdMaximumUnicodeStringLength = 1000000;

VOID DebugPrint(UINTN ErrorLevel, CONST CHAR8 *Format, ...);
VOID DebugAssert(CONST CHAR8 *FileName, UINTN LineNumber, CONST CHAR8 *Description);
// The gates are fixed at build time; inline, so that a DEBUG the settings rule out costs nothing.
inline BOOLEAN DebugAssertEnabled(VOID) { return (PcdDebugPropertyMask & DEBUG_PROPERTY_DEBUG_ASSERT_ENABLED) != 0; }
inline BOOLEAN DebugPrintEnabled(VOID) { return (PcdDebugPropertyMask & DEBUG_PROPERTY_DEBUG_PRINT_ENABLED) != 0; }
inline BOOLEAN DebugCodeEnabled(VOID) { return (PcdDebugPropertyMask & DEBUG_PROPERTY_DEBUG_CODE_ENABLED) != 0; }
inline BOOLEAN DebugPrintLevelEnabled(UINTN ErrorLevel) { return (ErrorLevel & PcdFixedDebugPrintErrorLevel) != 0; }

#define _ASSERT(Expression) DebugAssert(__FILE__, __LINE__, #Expression)

// clang-format off
// A null pointer as EDK II's NULL expands, so that an assertion on it reports the text EDK II's
// libraries report, "Pointer != ((void *) 0)" (C++'s own NULL would read "__null"). The
// spacing is part of the reported text, so the formatter leaves these lines alone.
#define NULL_FOR_ASSERT ((void *) 0)
// clang-format on

// The run-time mask once the level library has settled it, all bits while it has not (so
// that DebugPrint asks the library every time until then). A message the settled mask
// rules out then costs one load and one test where it is written, and no call.
extern UINT32 gDebugPrintSettledMask;
#define DEBUG_PRINT_MASK_UNSETTLED 0xFFFFFFFFU

#define _DEBUG_PRINT(PrintLevel, ...) \
  do { \
    if (DebugPrintLevelEnabled(PrintLevel) && ((PrintLevel)&gDebugPrintSettledMask) != 0) { \
      DebugPrint(PrintLevel, ##__VA_ARGS__); \
    } \
  } while (FALSE)

#define _DEBUG(Expression) _DEBUG_PRINT Expression

#define DEBUG(Expression) \
  do { \
    if (DebugPrintEnabled()) { \
      _DEBUG(Expression); \
    } \
  } while (FALSE)

// The reported text is the expression after macro expansion, as EDK II reports it.
#define ASSERT(Expression) \
  do { \
    if (DebugAssertEnabled()) { \
      if (!(Expression)) { \
        _ASSERT(Expression); \
      } \
    } \
  } while (FALSE)

// clang-format off
// "!EFI_ERROR (Status)" is the reported text, space included.
#define ASSERT_EFI_ERROR(StatusParameter)                                              \
  do {                                                                                 \
    if (DebugAssertEnabled()) {                                                        \
      if (EFI_ERROR(StatusParameter)) {                                                \
        DEBUG((DEBUG_ERROR, "\nASSERT_EFI_ERROR (Status = %r)\n", StatusParameter));   \
        _ASSERT(!EFI_ERROR (StatusParameter));                                         \
      }                                                                                \
    }                                                                                  \
  } while (FALSE)
// clang-format on
