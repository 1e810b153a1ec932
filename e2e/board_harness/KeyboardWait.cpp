#include <Protocol/SimpleTextInputEx.h>
#include "KeyboardWait.h"

namespace {

constexpr UINTN kPollMicroseconds = 10000;

EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *ConsoleInput(EFI_SYSTEM_TABLE *SystemTable) {
  EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *Input = NULL;
  if (SystemTable->ConsoleInHandle == NULL ||
      EFI_ERROR(SystemTable->BootServices->HandleProtocol(SystemTable->ConsoleInHandle,
                                                          &gEfiSimpleTextInputExProtocolGuid, (VOID **)&Input))) {
    return NULL;
  }
  return Input;
}

}  // namespace

VOID DrainKeys(EFI_SYSTEM_TABLE *SystemTable) {
  EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *Input = ConsoleInput(SystemTable);
  if (Input == NULL) {
    return;
  }
  EFI_KEY_DATA Key;
  // Bounded: a keyboard that never runs dry must not hold the harness.
  for (UINTN Count = 0; Count < 256 && !EFI_ERROR(Input->ReadKeyStrokeEx(Input, &Key)); Count++) {
  }
}

BOOLEAN WaitForKeystroke(EFI_SYSTEM_TABLE *SystemTable, UINT32 TimeoutSeconds, EFI_KEY_DATA *Key) {
  EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *Input = ConsoleInput(SystemTable);
  UINT64 Polls = (UINT64)TimeoutSeconds * (1000000 / kPollMicroseconds);
  for (UINT64 Poll = 0; Poll < Polls; Poll++) {
    if (Input != NULL && !EFI_ERROR(Input->ReadKeyStrokeEx(Input, Key))) {
      return TRUE;
    }
    SystemTable->BootServices->Stall(kPollMicroseconds);
  }
  return FALSE;
}
