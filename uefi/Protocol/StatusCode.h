#pragma once
#include "../SystemTable.h"
#include "../Pi/StatusCode.h"

inline constexpr EFI_GUID gEfiStatusCodeRuntimeProtocolGuid = {
    0xD2B2B828, 0x0826, 0x48A7, {0xB3, 0xDF, 0x98, 0x3C, 0x00, 0x60, 0x24, 0xF0}};

typedef EFI_STATUS(EFIAPI *EFI_REPORT_STATUS_CODE)(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value,
                                                   UINT32 Instance, CONST EFI_GUID *CallerId,
                                                   EFI_STATUS_CODE_DATA *Data);

struct EFI_STATUS_CODE_PROTOCOL {
  EFI_REPORT_STATUS_CODE ReportStatusCode;
};
EFI_PROTOCOL_GUID(EFI_STATUS_CODE_PROTOCOL, gEfiStatusCodeRuntimeProtocolGuid);
