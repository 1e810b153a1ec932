// The system table's console output: every OutputString is recorded with the cursor
// position it was written at, and the cursor moves as a text console's would.
#include "ServiceEntry.h"

namespace sim {

namespace {

constexpr INT32 kColumns = 80;
constexpr INT32 kRows = 25;
// Strings longer than this are taken as unterminated.
constexpr size_t kMaxOutputChars = 64 * 1024;

Platform::Impl *ConsoleState(const char *Member) {
  Platform *P = LivePlatform(Member);
  if (P == nullptr) {
    return nullptr;
  }
  return &P->State();
}

EFI_STATUS ConsoleCall(const char *Member, EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This,
                       const std::function<EFI_STATUS(Platform::Impl &)> &Run) {
  Platform::Impl *S = ConsoleState(Member);
  if (S == nullptr) {
    return EFI_UNSUPPORTED;
  }
  // The console belongs to the boot services: past their end the firmware's is gone.
  if (S->Owner.BootServicesEnded()) {
    Fail(std::string(Member) + " called after ExitBootServices");
    return EFI_UNSUPPORTED;
  }
  if (auto Injected = S->Owner.Faults().Check(Member)) {
    return *Injected;
  }
  if (This != &S->ConOut) {
    Fail(std::string(Member) + " called with a This that is not the console");
    return EFI_INVALID_PARAMETER;
  }
  return Run(*S);
}

void Advance(EFI_SIMPLE_TEXT_OUTPUT_MODE &Mode, char16_t C) {
  if (C == u'\n') {
    Mode.CursorRow = Mode.CursorRow + 1 < kRows ? Mode.CursorRow + 1 : kRows - 1;
  } else if (C == u'\r') {
    Mode.CursorColumn = 0;
  } else if (C == u'\b') {
    Mode.CursorColumn = Mode.CursorColumn > 0 ? Mode.CursorColumn - 1 : 0;
  } else if (++Mode.CursorColumn >= kColumns) {
    Mode.CursorColumn = 0;
    Mode.CursorRow = Mode.CursorRow + 1 < kRows ? Mode.CursorRow + 1 : kRows - 1;
  }
}

EFI_STATUS EFIAPI ConOutOutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, CONST CHAR16 *String) {
  return ConsoleCall("ConOut.OutputString", This, [&](Platform::Impl &S) -> EFI_STATUS {
    if (String == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    size_t Length = 0;
    while (String[Length] != 0) {
      if (++Length == kMaxOutputChars) {
        Fail(Severity::Unsafe, "ConOut.OutputString of an unterminated string");
        return EFI_INVALID_PARAMETER;
      }
    }
    S.ConsoleLog().push_back(
        ConsoleWrite{S.ConOutMode.CursorColumn, S.ConOutMode.CursorRow, std::u16string(String, Length)});
    for (size_t Index = 0; Index < Length; Index++) {
      Advance(S.ConOutMode, String[Index]);
    }
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI ConOutSetCursorPosition(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, UINTN Column, UINTN Row) {
  return ConsoleCall("ConOut.SetCursorPosition", This, [&](Platform::Impl &S) -> EFI_STATUS {
    if (Column >= static_cast<UINTN>(kColumns) || Row >= static_cast<UINTN>(kRows)) {
      return EFI_UNSUPPORTED;
    }
    S.ConOutMode.CursorColumn = static_cast<INT32>(Column);
    S.ConOutMode.CursorRow = static_cast<INT32>(Row);
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI ConOutQueryMode(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, UINTN ModeNumber, UINTN *Columns,
                                  UINTN *Rows) {
  return ConsoleCall("ConOut.QueryMode", This, [&](Platform::Impl &) -> EFI_STATUS {
    if (Columns == nullptr || Rows == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    if (ModeNumber != 0) {
      return EFI_UNSUPPORTED;
    }
    *Columns = kColumns;
    *Rows = kRows;
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI ConOutClearScreen(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This) {
  return ConsoleCall("ConOut.ClearScreen", This, [&](Platform::Impl &S) {
    S.ConOutMode.CursorColumn = 0;
    S.ConOutMode.CursorRow = 0;
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI ConOutSetAttribute(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, UINTN Attribute) {
  return ConsoleCall("ConOut.SetAttribute", This, [&](Platform::Impl &S) -> EFI_STATUS {
    if (Attribute > 0x7F) {
      return EFI_UNSUPPORTED;
    }
    S.ConOutMode.Attribute = static_cast<INT32>(Attribute);
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI ConOutEnableCursor(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, BOOLEAN Visible) {
  return ConsoleCall("ConOut.EnableCursor", This, [&](Platform::Impl &S) {
    S.ConOutMode.CursorVisible = Visible;
    return EFI_SUCCESS;
  });
}

}  // namespace

void Platform::Impl::InitConsole() {
  SIM_UNEXPECTED_NAMED(ConOut, Reset, "ConOut.Reset");
  SIM_UNEXPECTED_NAMED(ConOut, TestString, "ConOut.TestString");
  SIM_UNEXPECTED_NAMED(ConOut, SetMode, "ConOut.SetMode");
  ConOut.OutputString = ConOutOutputString;
  ConOut.SetCursorPosition = ConOutSetCursorPosition;
  ConOut.QueryMode = ConOutQueryMode;
  ConOut.ClearScreen = ConOutClearScreen;
  ConOut.SetAttribute = ConOutSetAttribute;
  ConOut.EnableCursor = ConOutEnableCursor;
  ConOutMode.MaxMode = 1;
  ConOutMode.Mode = 0;
  ConOutMode.Attribute = 0x07;
  ConOutMode.CursorVisible = TRUE;
  ConOut.Mode = &ConOutMode;
  Install(&ConOutHandle, &gEfiSimpleTextOutProtocolGuid, &ConOut);
  St.ConsoleOutHandle = ConOutHandle;
  St.ConOut = &ConOut;
  St.StandardErrorHandle = ConOutHandle;
  St.StdErr = &ConOut;
}

}  // namespace sim
