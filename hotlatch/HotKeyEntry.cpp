// The start routine: arm on the next keyboard, reset the options, wait for the disarm.
#include "Hotlatch.h"

EFI_EVENT mSetupHotKeyEvent;
VOID *mSetupHotKeyRegistration;

VOID RegisterSetupHotKeyNotify(VOID) {
  EFI_STATUS Status = gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OemSetupHotKey, NULL, &mSetupHotKeyEvent);
  if (EFI_ERROR(Status)) {
    DEBUG((DEBUG_INFO, "Create OemSetupHotKey event...%r\n", Status));
    mSetupHotKeyEvent = NULL;
    return;
  }

  Status =
      gBS->RegisterProtocolNotify(&gEfiSimpleTextInputExProtocolGuid, mSetupHotKeyEvent, &mSetupHotKeyRegistration);
  if (EFI_ERROR(Status)) {
    DEBUG((DEBUG_INFO, "Register Simple Text Input Failed...%r\n", Status));
  } else {
    DEBUG((DEBUG_INFO, "Register Simple Text Input Success...%r\n", Status));
  }
}

VOID WithdrawSetupHotKey(VOID) {
  if (mSetupHotKeyEvent != NULL) {
    gBS->CloseEvent(mSetupHotKeyEvent);
    mSetupHotKeyEvent = NULL;
  }
  if (mSimpleTextInputEx != NULL && mDebugKeyNotifyHandle != NULL) {
    mSimpleTextInputEx->UnregisterKeyNotify(mSimpleTextInputEx, mDebugKeyNotifyHandle);
    mDebugKeyNotifyHandle = NULL;
  }
}

EFI_STATUS OemDebugEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_EVENT UnregisterKeyEvent;
  EFI_STATUS Status;
  VOID *UnregisterKeyRegistration;

  RegisterSetupHotKeyNotify();
  SetupConfig();
  // This driver's message texts are the platform's own and its log readers match them as
  // they stand: "[ORV]", "Orv -", "Chang Scu", the blank runs and the dot runs are meant.
  DEBUG((DEBUG_INFO, "\n[ORV] OemDebugEntry entry     \n"));

  UnregisterKeyEvent = NULL;
  Status = gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OemUnregisterKey, NULL, &UnregisterKeyEvent);
  if (EFI_ERROR(Status)) {
    // Without its event the key could never be disarmed: fail the start like a failed
    // registration, and never register an unset event.
    WithdrawSetupHotKey();
    return Status;
  }

  UnregisterKeyRegistration = NULL;
  Status = gBS->RegisterProtocolNotify(&gDebugKeyDisarmProtocolGuid, UnregisterKeyEvent, &UnregisterKeyRegistration);
  if (EFI_ERROR(Status)) {
    // The firmware unloads the image on this error: nothing may still name its code.
    gBS->CloseEvent(UnregisterKeyEvent);
    WithdrawSetupHotKey();
  }
  return Status;
}
