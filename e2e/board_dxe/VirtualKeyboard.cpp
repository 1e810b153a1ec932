#include "VirtualKeyboard.h"
#include <Protocol/SimpleTextIn.h>

namespace {

// The console splitter takes a handle as a console input when this GUID is on it.
constexpr EFI_GUID kConsoleInDeviceGuid = {
    0xD3B36F2B, 0xD551, 0x11D4, {0x9A, 0x46, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
// The splitter forwards each registration once; a firmware registers a handful.
constexpr UINTN kNotifyMax = 16;

struct KEY_NOTIFY {
  BOOLEAN Used;
  EFI_KEY_DATA Key;
  EFI_KEY_NOTIFY_FUNCTION Function;
};

KEY_NOTIFY mNotifies[kNotifyMax];
EFI_HANDLE mHandle = NULL;

EFI_STATUS EFIAPI Reset(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *This, BOOLEAN ExtendedVerification) { return EFI_SUCCESS; }

EFI_STATUS EFIAPI ReadKeyStroke(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *This, EFI_INPUT_KEY *Key) { return EFI_NOT_READY; }

EFI_STATUS EFIAPI ResetEx(EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *This, BOOLEAN ExtendedVerification) { return EFI_SUCCESS; }

EFI_STATUS EFIAPI ReadKeyStrokeEx(EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *This, EFI_KEY_DATA *KeyData) {
  return EFI_NOT_READY;
}

EFI_STATUS EFIAPI SetState(EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *This, EFI_KEY_TOGGLE_STATE *KeyToggleState) {
  return KeyToggleState == NULL ? EFI_INVALID_PARAMETER : EFI_SUCCESS;
}

EFI_STATUS EFIAPI RegisterKeyNotify(EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *This, EFI_KEY_DATA *KeyData,
                                    EFI_KEY_NOTIFY_FUNCTION Function, VOID **NotifyHandle) {
  UINTN Index;
  if (KeyData == NULL || Function == NULL || NotifyHandle == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  for (Index = 0; Index < kNotifyMax; Index++) {
    if (!mNotifies[Index].Used) {
      mNotifies[Index].Used = TRUE;
      mNotifies[Index].Key = *KeyData;
      mNotifies[Index].Function = Function;
      *NotifyHandle = &mNotifies[Index];
      return EFI_SUCCESS;
    }
  }
  return EFI_OUT_OF_RESOURCES;
}

EFI_STATUS EFIAPI UnregisterKeyNotify(EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *This, VOID *NotificationHandle) {
  UINTN Index;
  for (Index = 0; Index < kNotifyMax; Index++) {
    if (mNotifies[Index].Used && NotificationHandle == &mNotifies[Index]) {
      mNotifies[Index].Used = FALSE;
      return EFI_SUCCESS;
    }
  }
  return EFI_INVALID_PARAMETER;
}

// No key ever arrives, so the wait events are never signalled.
VOID EFIAPI NoKey(EFI_EVENT Event, VOID *Context) {}

EFI_SIMPLE_TEXT_INPUT_PROTOCOL mTextIn = {Reset, ReadKeyStroke, NULL};
EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL mTextInEx = {ResetEx,  ReadKeyStrokeEx,   NULL,
                                               SetState, RegisterKeyNotify, UnregisterKeyNotify};

}  // namespace

EFI_STATUS VirtualKeyboardInstall(EFI_BOOT_SERVICES *BootServices) {
  EFI_STATUS Status;
  if (mHandle != NULL) {
    return EFI_ALREADY_STARTED;
  }
  Status = BootServices->CreateEvent(EVT_NOTIFY_WAIT, TPL_NOTIFY, NoKey, NULL, &mTextIn.WaitForKey);
  if (!EFI_ERROR(Status)) {
    Status = BootServices->CreateEvent(EVT_NOTIFY_WAIT, TPL_NOTIFY, NoKey, NULL, &mTextInEx.WaitForKeyEx);
  }
  if (!EFI_ERROR(Status)) {
    Status =
        BootServices->InstallProtocolInterface(&mHandle, &gEfiSimpleTextInProtocolGuid, EFI_NATIVE_INTERFACE, &mTextIn);
  }
  if (!EFI_ERROR(Status)) {
    Status = BootServices->InstallProtocolInterface(&mHandle, &gEfiSimpleTextInputExProtocolGuid, EFI_NATIVE_INTERFACE,
                                                    &mTextInEx);
  }
  if (!EFI_ERROR(Status)) {
    Status = BootServices->InstallProtocolInterface(&mHandle, &kConsoleInDeviceGuid, EFI_NATIVE_INTERFACE, NULL);
  }
  if (!EFI_ERROR(Status)) {
    Status = BootServices->ConnectController(mHandle, NULL, NULL, FALSE);
  }
  return Status;
}

UINTN VirtualKeyboardNotifyCount(VOID) {
  UINTN Count = 0;
  UINTN Index;
  for (Index = 0; Index < kNotifyMax; Index++) {
    Count += mNotifies[Index].Used ? 1 : 0;
  }
  return Count;
}

EFI_KEY_NOTIFY_FUNCTION VirtualKeyboardFindNotify(CONST EFI_KEY_DATA *Key, UINT64 Base, UINT64 Size) {
  UINTN Index;
  CONST KEY_NOTIFY *Notify;
  UINT64 Function;
  for (Index = 0; Index < kNotifyMax; Index++) {
    Notify = &mNotifies[Index];
    Function = (UINT64)(UINTN)Notify->Function;
    if (Notify->Used && Notify->Key.Key.UnicodeChar == Key->Key.UnicodeChar &&
        Notify->Key.Key.ScanCode == Key->Key.ScanCode &&
        Notify->Key.KeyState.KeyShiftState == Key->KeyState.KeyShiftState && Function >= Base &&
        Function - Base < Size) {
      return Notify->Function;
    }
  }
  return NULL;
}
