#include "PlatformPeers.h"
#include "BmcRecorder.h"
#include "BoardOutput.h"
#include "RecordSlots.h"
#include <Protocol/PlatformIdentity.h>
#include <Protocol/TeskRegistration.h>

namespace {

struct TESK_CALL {
  BOOLEAN Register;
  UINT64 Address;
  UINT64 Pointer;
};

TESK_CALL mTeskCalls[TESK_RECORD_MAX];
RECORD_SLOTS mTeskSlots = {TESK_RECORD_MAX, 0, 0};

EFI_STATUS RecordTeskCall(BOOLEAN Register, VOID **PointerAddress) {
  UINTN Slot;
  if (RecordSlotTake(&mTeskSlots, TRUE, &Slot)) {
    mTeskCalls[Slot] = {Register, (UINT64)(UINTN)PointerAddress,
                        PointerAddress != NULL ? (UINT64)(UINTN)*PointerAddress : 0};
  }
  return PointerAddress == NULL ? EFI_INVALID_PARAMETER : EFI_SUCCESS;
}

EFI_STATUS EFIAPI TeskRegisterPointer(VOID **PointerAddress) { return RecordTeskCall(TRUE, PointerAddress); }

EFI_STATUS EFIAPI TeskUnregisterPointer(VOID **PointerAddress) { return RecordTeskCall(FALSE, PointerAddress); }

// Whether call Index is the one that leaves its address registered: a registration with no
// later call for the same address.
BOOLEAN StillRegistered(UINTN Index) {
  UINTN Later;
  if (!mTeskCalls[Index].Register || mTeskCalls[Index].Address == 0) {
    return FALSE;
  }
  for (Later = Index + 1; Later < mTeskSlots.Used; Later++) {
    if (mTeskCalls[Later].Address == mTeskCalls[Index].Address) {
      return FALSE;
    }
  }
  return TRUE;
}

CONST TESK_REGISTRATION_PROTOCOL mTeskTemplate = {NULL, NULL, TeskRegisterPointer, TeskUnregisterPointer};
// A runtime driver keeps a pointer to the interface and has it converted at
// SetVirtualAddressMap, which converts only addresses in runtime memory: the interface lives
// there, as a runtime platform service's would.
TESK_REGISTRATION_PROTOCOL *mTesk = NULL;
PLATFORM_IDENTITY_PROTOCOL mIdentity = {};

}  // namespace

EFI_STATUS InstallPlatformPeers(EFI_BOOT_SERVICES *BootServices, CONST UINT16 IdentityWords[4], BOOLEAN WithRecorder) {
  mIdentity.Revision = 1;
  mIdentity.Word4 = IdentityWords[0];
  mIdentity.Word6 = IdentityWords[1];
  mIdentity.Word8 = IdentityWords[2];
  mIdentity.Word10 = IdentityWords[3];
  EFI_HANDLE Handle = NULL;
  EFI_STATUS Status =
      BootServices->InstallProtocolInterface(&Handle, &gPlatformIdentityProtocolGuid, EFI_NATIVE_INTERFACE, &mIdentity);
  if (!EFI_ERROR(Status) && WithRecorder) {
    Status = BootServices->InstallProtocolInterface(&Handle, &gManagementTransportProtocolGuid, EFI_NATIVE_INTERFACE,
                                                    BmcRecorderProtocol());
  }
  if (!EFI_ERROR(Status)) {
    Status = BootServices->AllocatePool(EfiRuntimeServicesData, sizeof(*mTesk), (VOID **)&mTesk);
  }
  if (!EFI_ERROR(Status)) {
    *mTesk = mTeskTemplate;
    Status =
        BootServices->InstallProtocolInterface(&Handle, &gTeskRegistrationProtocolGuid, EFI_NATIVE_INTERFACE, mTesk);
  }
  return Status;
}

VOID *TeskServiceInterface(VOID) { return mTesk; }

EFI_STATUS InstallSignalProtocol(EFI_BOOT_SERVICES *BootServices, CONST EFI_GUID *Guid) {
  EFI_HANDLE Handle = NULL;
  return BootServices->InstallProtocolInterface(&Handle, Guid, EFI_NATIVE_INTERFACE, NULL);
}

VOID TeskRecorderReport(VOID) {
  for (UINTN Index = 0; Index < mTeskSlots.Used; Index++) {
    BoardLineStart("BOARD TESK op=");
    BoardAppendText(mTeskCalls[Index].Register ? "register" : "unregister");
    BoardAppendField("address", mTeskCalls[Index].Address);
    BoardAppendField("pointer", mTeskCalls[Index].Pointer);
    BoardLineEnd();
  }
  RecordSlotsSummary(&mTeskSlots, "BOARD TESK-SUMMARY", "calls");
}

VOID TeskConvertRegisteredPointers(EFI_RUNTIME_SERVICES *RuntimeServices) {
  UINTN Index;
  VOID **Address;
  UINT64 Before;
  EFI_STATUS Status;
  for (Index = 0; Index < mTeskSlots.Used; Index++) {
    if (!StillRegistered(Index)) {
      continue;
    }
    Address = (VOID **)(UINTN)mTeskCalls[Index].Address;
    Before = (UINT64)(UINTN)*Address;
    Status = RuntimeServices->ConvertPointer(0, Address);
    BoardLineStart("BOARD CONVERT");
    BoardAppendField("address", mTeskCalls[Index].Address);
    BoardAppendField("before", Before);
    BoardAppendField("after", (UINT64)(UINTN)*Address);
    BoardAppendField("status", Status);
    BoardLineEnd();
  }
}
