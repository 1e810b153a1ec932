// PI's MM status-code protocol: status codes reported from inside MM, in the MM protocol
// database (the DXE protocol's code is outside MMRAM and may not be called from there).
#pragma once
#include "../Pi/PiMmCis.h"
#include "../Pi/StatusCode.h"

inline constexpr EFI_GUID gEfiMmStatusCodeProtocolGuid = {
    0x6AFD2B77, 0x98C1, 0x4ACD, {0xA6, 0xF9, 0x8A, 0x94, 0x39, 0xDE, 0x0F, 0xB1}};

struct EFI_MM_STATUS_CODE_PROTOCOL {
  EFI_STATUS(EFIAPI *ReportStatusCode)
  (CONST EFI_MM_STATUS_CODE_PROTOCOL *This, EFI_STATUS_CODE_TYPE CodeType, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
   CONST EFI_GUID *CallerId, EFI_STATUS_CODE_DATA *Data);
};
static_assert(sizeof(EFI_MM_STATUS_CODE_PROTOCOL) == 8, "MM status code layout");
EFI_PROTOCOL_GUID(EFI_MM_STATUS_CODE_PROTOCOL, gEfiMmStatusCodeProtocolGuid);
