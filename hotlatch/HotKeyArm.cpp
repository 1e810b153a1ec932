// Arming the key on the first keyboard reported after the start, and the key itself.
#include "Hotlatch.h"

EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *mSimpleTextInputEx;
VOID *mDebugKeyNotifyHandle;

VOID EFIAPI OemSetupHotKey(EFI_EVENT Event, VOID *Context) {
  EFI_KEY_DATA KeyData;
  EFI_HANDLE Handle;
  UINTN BufferSize;
  EFI_STATUS Status;

  BuildDebugKeyData(&KeyData);

  Handle = NULL;
  BufferSize = sizeof(Handle);
  Status = gBS->LocateHandle(ByRegisterNotify, NULL, mSetupHotKeyRegistration, &BufferSize, &Handle);
  if (!EFI_ERROR(Status)) {
    Status = HandleProtocolOf(Handle, &mSimpleTextInputEx);
    DEBUG((DEBUG_INFO, "[OemSetupHotKey]SimpleTextInputEx HandleProtocol Status = %r\n", Status));
    if (!EFI_ERROR(Status)) {
      Status =
          mSimpleTextInputEx->RegisterKeyNotify(mSimpleTextInputEx, &KeyData, DebugKeyNotify, &mDebugKeyNotifyHandle);
      if (EFI_ERROR(Status)) {
        DEBUG((DEBUG_INFO, "Register Chang Scu Callback Failed...%r\n", Status));
        // A failed arm leaves no key anywhere: a later withdrawal must not unregister.
        mDebugKeyNotifyHandle = NULL;
      } else {
        DEBUG((DEBUG_INFO, "Register Chang Scu Callback Success...%r\n", Status));
      }
    } else {
      mSimpleTextInputEx = NULL;
    }
  }

  DEBUG((DEBUG_INFO, "Close event OemSetupHotKey() Success...\n"));
  gBS->CloseEvent(Event);
  // Closed for good: the withdrawal on a failed start must not close it again.
  if (Event == mSetupHotKeyEvent) {
    mSetupHotKeyEvent = NULL;
  }
}

EFI_STATUS EFIAPI DebugKeyNotify(EFI_KEY_DATA *KeyData) {
  ChangeSetupDebugOption();
  return EFI_SUCCESS;
}
