#pragma once
#include "../SystemTable.h"
#include "../Pi/StatusCode.h"

inline constexpr EFI_GUID gEfiRscHandlerProtocolGuid = {
    0x86212936, 0x0E76, 0x41C8, {0xA0, 0x3A, 0x2A, 0xF2, 0xFC, 0x1C, 0x39, 0xE2}};

typedef EFI_STATUS(EFIAPI *EFI_RSC_HANDLER_CALLBACK)(EFI_STATUS_CODE_TYPE CodeType, EFI_STATUS_CODE_VALUE Value,
                                                     UINT32 Instance, EFI_GUID *CallerId, EFI_STATUS_CODE_DATA *Data);

struct EFI_RSC_HANDLER_PROTOCOL {
  EFI_STATUS(EFIAPI *Register)(EFI_RSC_HANDLER_CALLBACK Callback, EFI_TPL Tpl);
  EFI_STATUS(EFIAPI *Unregister)(EFI_RSC_HANDLER_CALLBACK Callback);
};
EFI_PROTOCOL_GUID(EFI_RSC_HANDLER_PROTOCOL, gEfiRscHandlerProtocolGuid);
