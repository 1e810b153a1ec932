// Disarming: remove the key from every keyboard present when the disarm protocol arrives.
#include "Hotlatch.h"

// A keyboard hands back its existing handle when the same key and function are registered
// again, so register-then-unregister removes the armed registration and leaves none behind
// on keyboards that never had it.
static VOID RemoveDebugKeyFrom(EFI_HANDLE Handle, EFI_KEY_DATA *KeyData) {
  EFI_SIMPLE_TEXT_INPUT_EX_PROTOCOL *SimpleTextInputEx = NULL;
  EFI_STATUS Status = HandleProtocolOf(Handle, &SimpleTextInputEx);
  if (EFI_ERROR(Status)) {
    return;
  }
  DEBUG((DEBUG_INFO, "SimpleTextInputEx HandleProtocol Status = %r\n", Status));

  Status = SimpleTextInputEx->RegisterKeyNotify(SimpleTextInputEx, KeyData, DebugKeyNotify, &mDebugKeyNotifyHandle);
  DEBUG((DEBUG_INFO, "RegisterKeyNotify DebugKey...%r\n", Status));
  if (EFI_ERROR(Status)) {
    return;
  }
  Status = SimpleTextInputEx->UnregisterKeyNotify(SimpleTextInputEx, mDebugKeyNotifyHandle);
  DEBUG((DEBUG_INFO, "Unregister DebugKey...%r\n", Status));
}

VOID EFIAPI OemUnregisterKey(EFI_EVENT Event, VOID *Context) {
  EFI_KEY_DATA KeyData;
  UINTN HandleCount;
  EFI_HANDLE *HandleBuffer;
  EFI_STATUS Status;

  BuildDebugKeyData(&KeyData);
  DEBUG((DEBUG_INFO, "Orv - OemUnregisterKey entry...\n"));

  // A disarm before the first keyboard must hold: the arm event still waiting would arm
  // the next keyboard, and nothing would remove that key again.
  if (mSetupHotKeyEvent != NULL) {
    gBS->CloseEvent(mSetupHotKeyEvent);
    mSetupHotKeyEvent = NULL;
  }

  HandleCount = 0;
  HandleBuffer = NULL;
  Status = gBS->LocateHandleBuffer(ByProtocol, &gEfiSimpleTextInputExProtocolGuid, NULL, &HandleCount, &HandleBuffer);
  if (!EFI_ERROR(Status)) {
    UINTN Index;

    DEBUG((DEBUG_INFO, "HandleCount= %x\n", (UINT32)HandleCount));
    for (Index = 0; HandleBuffer != NULL && Index < HandleCount; Index++) {
      RemoveDebugKeyFrom(HandleBuffer[Index], &KeyData);
    }
  } else {
    HandleBuffer = NULL;
  }

  if (HandleBuffer != NULL) {
    DEBUG((DEBUG_INFO, "UnregisterKey FreePool...\n"));
    FreePool(HandleBuffer);
  }

  Status = gBS->CloseEvent(Event);
  DEBUG((DEBUG_INFO, "Close unregisterKey event status = %r\n", Status));
}
