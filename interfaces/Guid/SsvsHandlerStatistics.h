// What the reference SSVS handler publishes after every software SMI it claims: a volatile
// variable with the number of packets it served and refused since the boot began, so a
// test or a shell can tell that the handler ran without a debug console.
#pragma once
#include <Guid.h>
#include <SystemTable.h>

inline constexpr EFI_GUID gSsvsHandlerStatisticsGuid = {
    0x405C6377, 0x0617, 0x4C16, {0xBE, 0xC9, 0xFA, 0xE5, 0x6F, 0xCC, 0xF9, 0x64}};

#define SSVS_HANDLER_STATISTICS_NAME u"SsvsHandlerStatistics"
#define SSVS_HANDLER_STATISTICS_ATTRIBUTES (EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS)

#pragma pack(push, 1)
struct SSVS_HANDLER_STATISTICS {
  UINT64 Served;  // packets written through the variable service, whatever it answered
  UINT64 Refused;  // SMIs on the command value that carried no acceptable packet
};
#pragma pack(pop)
static_assert(sizeof(SSVS_HANDLER_STATISTICS) == 16, "SSVS statistics layout");
static_assert(OFFSET_OF(SSVS_HANDLER_STATISTICS, Refused) == 8, "SSVS statistics layout");
