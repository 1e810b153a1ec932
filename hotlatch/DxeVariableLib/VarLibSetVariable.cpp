// The library's write operation: which path a write takes.
#include "DxeVariableLibInternal.h"

EFI_STATUS VarLibSetVariable(CONST CHAR16 *Name, CONST EFI_GUID *VendorGuid, UINT32 Attributes, UINTN DataSize,
                             VOID *Data) {
  VOID *SmmVariable;
  EFI_STATUS Status;

  if (mVariableBootServicesExited) {
    return EFI_UNSUPPORTED;
  }

  // Looked up on every write: the SMM variable handler may arrive after this image. Only
  // the protocol's presence counts; its interface is never used and may be NULL.
  SmmVariable = NULL;
  Status = gBS->LocateProtocol(&gEfiSmmVariableProtocolGuid, NULL, &SmmVariable);
  if (!EFI_ERROR(Status)) {
    return SmmVariableSetVariable(Name, VendorGuid, Attributes, DataSize, Data);
  }

  // Only possible when the constructor never ran.
  if (mVariableRuntimeServices == NULL) {
    return EFI_NOT_READY;
  }
  return mVariableRuntimeServices->SetVariable(Name, VendorGuid, Attributes, DataSize, Data);
}
