// The report step both status-code instances share: the type gate, the cached protocol,
// the header in front of the caller's data.
#pragma once
#include <Uefi.h>

// Header and data together when no pool buffer can be used.
inline constexpr UINTN kStatusCodeLocalBufferSize = 512;
inline constexpr UINTN kStatusCodeLocalDataMaxSize = kStatusCodeLocalBufferSize - sizeof(EFI_STATUS_CODE_DATA);
static_assert(kStatusCodeLocalDataMaxSize == 492, "local status-code buffer");

// Null until a report finds the platform's protocol; never dropped afterwards.
extern EFI_STATUS_CODE_PROTOCOL *mReportStatusCodeLibStatusCodeProtocol;

// Looks for the protocol while none is cached (only if boot services can look, and at
// TPL_NOTIFY or below).
VOID ReportStatusCodeLocateProtocol(VOID);

// TRUE when Data and Size describe the extended data consistently; asserts otherwise.
BOOLEAN ReportStatusCodeDataArgumentsValid(CONST VOID *ExtendedData, UINTN ExtendedDataSize);

// Writes the header (HeaderSize 20, Size, the data-type GUID or the default) and the data.
VOID ReportStatusCodeFillData(EFI_STATUS_CODE_DATA *StatusCodeData, CONST EFI_GUID *ExtendedDataGuid,
                              CONST VOID *ExtendedData, UINTN ExtendedDataSize);

// The type gate, the protocol lookup (when MayLocate) and the call itself.
EFI_STATUS ReportStatusCodeDeliver(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                                   CONST EFI_GUID *CallerId, EFI_STATUS_CODE_DATA *Data, BOOLEAN MayLocate);
