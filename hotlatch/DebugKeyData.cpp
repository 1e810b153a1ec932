// The one key this driver listens for.
#include "Hotlatch.h"

VOID BuildDebugKeyData(EFI_KEY_DATA *KeyData) {
  ZeroMem(KeyData, sizeof(*KeyData));
  KeyData->Key.ScanCode = SCAN_NULL;
  KeyData->Key.UnicodeChar = u'd';
  KeyData->KeyState.KeyShiftState = EFI_SHIFT_STATE_VALID | EFI_LEFT_ALT_PRESSED | EFI_LEFT_CONTROL_PRESSED;
  // No toggle state is asked for, so Caps or Num Lock do not hide the key.
  KeyData->KeyState.KeyToggleState = 0;
}
