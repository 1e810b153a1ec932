#include "OsBoot.h"
#include <Guid/EventGroup.h>
#include "BoardOutput.h"
#include "PlatformPeers.h"
#include "PortIo.h"
#include "SetupVariables.h"
#include "StatusCodeCapture.h"
#include "VirtualKeyboard.h"

namespace {

EFI_SYSTEM_TABLE *mSystemTable = NULL;
// The runtime services table itself: the system table's copy is converted by the firmware
// only after every notification has run.
EFI_RUNTIME_SERVICES *mRuntimeServices = NULL;
DISPATCHED_IMAGE *mHotlatch = NULL;
EFI_EVENT mExitBootServicesEvent = NULL;
EFI_EVENT mVirtualEvent = NULL;
EFI_KEY_NOTIFY_FUNCTION mHotKeyFunction = NULL;
EFI_KEY_DATA mHotKey = {};

// Calls Hotlatch's key function as a keyboard would, then reads back the option it sets.
VOID ProbeHotKey(CONST CHAR8 *When) {
  UINT8 Option = 0xFF;
  EFI_STATUS Status = EFI_NOT_FOUND;
  BOOLEAN Read = FALSE;
  if (mHotKeyFunction != NULL) {
    Status = mHotKeyFunction(&mHotKey);
    Read = ReadSetupDebugByte(mRuntimeServices, &Option);
  }
  BoardLineStart("BOARD PROBE when=");
  BoardAppendText(When);
  BoardAppendField("called", mHotKeyFunction != NULL);
  BoardAppendField("status", Status);
  BoardAppendField("read", Read);
  BoardAppendField("setup888", Option);
  BoardLineEnd();
}

// Runs after Hotlatch's own exit-boot-services notification: the firmware signals a group's
// newest events first, and this one was created before Hotlatch started. Runtime services
// still work here and every driver is still consistent, unlike inside
// SetVirtualAddressMap, where a driver that has converted its data but not yet its code
// cannot be called.
VOID EFIAPI ExitBootServices(EFI_EVENT Event, VOID *Context) {
  BoardOutputInitSink(DebugConsoleWriteDirect);
  BoardLine("BOARD EXITBOOTSERVICES");
  ProbeHotKey("exitbootservices");
}

// Inside SetVirtualAddressMap, still at physical addresses, with no boot service left.
VOID EFIAPI VirtualAddressChange(EFI_EVENT Event, VOID *Context) {
  VOID *Table = mRuntimeServices;
  EFI_STATUS Status;
  BoardLine("BOARD VIRTUAL");
  Status = mRuntimeServices->ConvertPointer(0, &Table);
  BoardLineStart("BOARD RUNTIME-TABLE");
  BoardAppendField("before", (UINT64)(UINTN)mRuntimeServices);
  BoardAppendField("after", (UINT64)(UINTN)Table);
  BoardAppendField("status", Status);
  BoardLineEnd();
  TeskConvertRegisteredPointers(mRuntimeServices);
  BoardLine("BOARD VIRTUAL DONE");
}

}  // namespace

EFI_STATUS OsBootStart(EFI_SYSTEM_TABLE *SystemTable, DISPATCHED_IMAGE *Hotlatch) {
  EFI_STATUS Status;
  mSystemTable = SystemTable;
  mRuntimeServices = SystemTable->RuntimeServices;
  mHotlatch = Hotlatch;
  mHotKey.Key.UnicodeChar = u'd';
  mHotKey.KeyState.KeyShiftState = EFI_SHIFT_STATE_VALID | EFI_LEFT_CONTROL_PRESSED | EFI_LEFT_ALT_PRESSED;
  Status = SystemTable->BootServices->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, ExitBootServices, NULL,
                                                    &gEfiEventExitBootServicesGuid, &mExitBootServicesEvent);
  if (!EFI_ERROR(Status)) {
    Status = SystemTable->BootServices->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, VirtualAddressChange, NULL,
                                                      &gEfiEventVirtualAddressChangeGuid, &mVirtualEvent);
  }
  return Status;
}

VOID OsBootReadyToBoot(VOID) {
  EFI_BOOT_SERVICES *BootServices = mSystemTable->BootServices;
  EFI_STATUS Status;
  FindDispatchedImage(BootServices, mHotlatch);
  TeskRecorderReport();
  Status = VirtualKeyboardInstall(BootServices);
  if (!EFI_ERROR(Status) && mHotlatch->Count == 1) {
    mHotKeyFunction = VirtualKeyboardFindNotify(&mHotKey, mHotlatch->Base, mHotlatch->ImageSize);
  }
  BoardLineStart("BOARD KEYBOARD");
  BoardAppendField("status", Status);
  BoardAppendField("notifies", VirtualKeyboardNotifyCount());
  BoardAppendField("function", (UINT64)(UINTN)mHotKeyFunction);
  BoardLineEnd();
  ProbeHotKey("boot");
  // Back to the state the OS must find, with the board's own writes.
  BoardStatusLine("BOARD RESETOPTIONS", WriteAllOptions(mSystemTable->RuntimeServices, 0));
  // The capture's handler lives in boot-services memory: the router must not call it, or
  // convert its address, once the OS owns the machine.
  StatusCodeCaptureStop();
  BoardLine("BOARD OSBOOT READY");
}
