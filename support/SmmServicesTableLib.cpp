// Keeps the MM system table for the whole image, as EDK II's SmmServicesTableLib does.
#include <Uefi.h>
#include <Library/DebugLib.h>
#include <Library/MmServicesTableLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Protocol/SmmBase2.h>

EFI_MM_SYSTEM_TABLE *gMmst = NULL;
EFI_SMM_SYSTEM_TABLE2 *gSmst = NULL;

EFI_STATUS SmmServicesTableLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_SMM_BASE2_PROTOCOL *SmmBase2;
  EFI_SMM_SYSTEM_TABLE2 *Smst;
  EFI_STATUS Status;

  SmmBase2 = NULL;
  Smst = NULL;

  if (gBS == NULL) {
    return EFI_NOT_READY;
  }
  Status = LocateProtocolOf(&SmmBase2);
  ASSERT_EFI_ERROR(Status);
  // Outside SMM (a driver of this type loaded by the DXE dispatcher) the protocol answers
  // EFI_UNSUPPORTED and the table stays unset; the driver's start then refuses to run.
  if (EFI_ERROR(Status) || SmmBase2 == NULL) {
    return Status;
  }
  Status = SmmBase2->GetSmstLocation(SmmBase2, &Smst);
  ASSERT_EFI_ERROR(Status);
  if (EFI_ERROR(Status) || Smst == NULL) {
    return EFI_ERROR(Status) ? Status : EFI_NOT_FOUND;
  }
  gSmst = Smst;
  gMmst = Smst;
  return EFI_SUCCESS;
}
