// Whole-record access to the setup variables.
#include "Hotlatch.h"

EFI_STATUS ReadSetupRecord(CONST CHAR16 *Name, CONST EFI_GUID *VendorGuid, UINTN RecordSize, VOID *Buffer) {
  UINTN DataSize;

  // The record is written back whole: a shorter stored value must not leave stack bytes
  // in the tail.
  ZeroMem(Buffer, RecordSize);
  DataSize = RecordSize;
  return gRT->GetVariable(Name, VendorGuid, NULL, &DataSize, Buffer);
}

EFI_STATUS WriteSetupRecord(CONST CHAR16 *Name, CONST EFI_GUID *VendorGuid, UINTN RecordSize, VOID *Buffer) {
  return VarLibSetVariable(Name, VendorGuid, SETUP_OPTION_ATTRIBUTES, RecordSize, Buffer);
}
