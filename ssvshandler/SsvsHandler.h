// The reference handler of the "SSVS" software SMI: a Traditional MM driver that takes the
// variable write a DXE driver left in an "SSVS" packet, checks it in MMRAM and performs it
// with the MM variable service.
#pragma once
#include <Uefi.h>
#include <Guid/SsvsHandlerStatistics.h>

// What the handler has done since it started; also published as the variable
// "SsvsHandlerStatistics" after every SMI it claims.
extern "C" IMAGE_EXPORT SSVS_HANDLER_STATISTICS mSsvsStatistics;

// The start routine: finds MMRAM, the MM CPU and variable services, reserves the copy
// buffer and registers the handler (software-SMI dispatch where the platform has it, a
// root MMI handler that reads the command port otherwise).
EFI_STATUS SsvsHandlerStart(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
