/** @file
  What the optional SSVS handler publishes after every software SMI it claims: the volatile
  variable "SsvsHandlerStatistics" (boot-service and runtime access) with the number of
  packets it served and refused since the boot began.
**/

#ifndef SSVS_HANDLER_STATISTICS_H_
#define SSVS_HANDLER_STATISTICS_H_

#define SSVS_HANDLER_STATISTICS_GUID \
  { 0x405C6377, 0x0617, 0x4C16, { 0xBE, 0xC9, 0xFA, 0xE5, 0x6F, 0xCC, 0xF9, 0x64 } }

#define SSVS_HANDLER_STATISTICS_VARIABLE_NAME  L"SsvsHandlerStatistics"

#pragma pack(1)
typedef struct {
  UINT64    Served;   ///< packets written through the SMM variable service, whatever it answered
  UINT64    Refused;  ///< SMIs on the command value that carried no acceptable packet
} SSVS_HANDLER_STATISTICS;
#pragma pack()

extern EFI_GUID  gSsvsHandlerStatisticsGuid;

#endif
