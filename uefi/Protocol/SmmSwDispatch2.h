// PI's software-SMI dispatch protocol (EFI_MM_SW_DISPATCH_PROTOCOL under its SMM name): a
// chipset that decodes the command port calls a child handler per command value.
#pragma once
#include "../Pi/PiMmCis.h"

inline constexpr EFI_GUID gEfiSmmSwDispatch2ProtocolGuid = {
    0x18A3C6DC, 0x5EEA, 0x48C8, {0xA1, 0xC1, 0xB5, 0x33, 0x89, 0xF9, 0x89, 0x99}};

struct EFI_SMM_SW_REGISTER_CONTEXT {
  UINTN SwSmiInputValue;
};
static_assert(sizeof(EFI_SMM_SW_REGISTER_CONTEXT) == 8, "software SMI register context layout");

// The Context a child handler receives: which CPU wrote the command port.
struct EFI_SMM_SW_CONTEXT {
  UINTN SwSmiCpuIndex;
  UINT8 CommandPort;
  UINT8 DataPort;
};
static_assert(sizeof(EFI_SMM_SW_CONTEXT) == 16, "software SMI context layout");
static_assert(OFFSET_OF(EFI_SMM_SW_CONTEXT, CommandPort) == 8, "software SMI context layout");
static_assert(OFFSET_OF(EFI_SMM_SW_CONTEXT, DataPort) == 9, "software SMI context layout");

struct EFI_SMM_SW_DISPATCH2_PROTOCOL {
  EFI_STATUS(EFIAPI *Register)
  (CONST EFI_SMM_SW_DISPATCH2_PROTOCOL *This, EFI_SMM_HANDLER_ENTRY_POINT2 DispatchFunction,
   EFI_SMM_SW_REGISTER_CONTEXT *RegisterContext, EFI_HANDLE *DispatchHandle);
  EFI_STATUS(EFIAPI *UnRegister)(CONST EFI_SMM_SW_DISPATCH2_PROTOCOL *This, EFI_HANDLE DispatchHandle);
  UINTN MaximumSwiValue;
};
static_assert(sizeof(EFI_SMM_SW_DISPATCH2_PROTOCOL) == 24, "software SMI dispatch layout");
static_assert(OFFSET_OF(EFI_SMM_SW_DISPATCH2_PROTOCOL, MaximumSwiValue) == 16, "software SMI dispatch layout");
EFI_PROTOCOL_GUID(EFI_SMM_SW_DISPATCH2_PROTOCOL, gEfiSmmSwDispatch2ProtocolGuid);
