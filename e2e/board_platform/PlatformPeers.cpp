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

TESK_REGISTRATION_PROTOCOL mTesk = {NULL, NULL, TeskRegisterPointer, TeskUnregisterPointer};
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
    Status =
        BootServices->InstallProtocolInterface(&Handle, &gTeskRegistrationProtocolGuid, EFI_NATIVE_INTERFACE, &mTesk);
  }
  return Status;
}

VOID *TeskServiceInterface(VOID) { return &mTesk; }

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
