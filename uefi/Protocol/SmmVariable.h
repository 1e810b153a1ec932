// The SMM variable protocol. In the DXE protocol database EDK II installs it with a NULL
// interface as a readiness signal; in the MM database it carries the variable services
// that MM code calls.
#pragma once
#include "../SystemTable.h"

inline constexpr EFI_GUID gEfiSmmVariableProtocolGuid = {
    0xED32D533, 0x99E6, 0x4209, {0x9C, 0xC0, 0x2D, 0x72, 0xCD, 0xD9, 0x98, 0xA7}};

struct EFI_SMM_VARIABLE_PROTOCOL {
  EFI_STATUS(EFIAPI *SmmGetVariable)
  (CONST CHAR16 *VariableName, CONST EFI_GUID *VendorGuid, UINT32 *Attributes, UINTN *DataSize, VOID *Data);
  EFI_STATUS(EFIAPI *SmmGetNextVariableName)(UINTN *VariableNameSize, CHAR16 *VariableName, EFI_GUID *VendorGuid);
  EFI_STATUS(EFIAPI *SmmSetVariable)
  (CONST CHAR16 *VariableName, CONST EFI_GUID *VendorGuid, UINT32 Attributes, UINTN DataSize, VOID *Data);
  EFI_STATUS(EFIAPI *SmmQueryVariableInfo)
  (UINT32 Attributes, UINT64 *MaximumVariableStorageSize, UINT64 *RemainingVariableStorageSize,
   UINT64 *MaximumVariableSize);
};
static_assert(sizeof(EFI_SMM_VARIABLE_PROTOCOL) == 32, "SMM variable layout");
static_assert(OFFSET_OF(EFI_SMM_VARIABLE_PROTOCOL, SmmSetVariable) == 16, "SMM variable layout");
EFI_PROTOCOL_GUID(EFI_SMM_VARIABLE_PROTOCOL, gEfiSmmVariableProtocolGuid);
