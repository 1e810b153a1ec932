// Keeps every status code that Roster, Hotlatch or the KCS transport reports. OVMF renders no debug
// records itself, so the harness registers with the router's handler protocol and
// copies each record while the reporter's buffer is still valid.
#pragma once
#include <Uefi.h>

// Enough for every message both drivers print in one run; later records are counted.
#define STATUS_CAPTURE_POOL_SIZE 0x200000
// A debug record is 20 + 4 + 96 + at most 104 + 4 bytes; an assert record at most 220.
#define STATUS_CAPTURE_RECORD_DATA_MAX 512

// The drivers' file GUIDs (generated from their module descriptions): the support layer
// gives them as the caller of every report, and they name the drivers' files in a volume.
#include <HotlatchFileGuid.h>
#include <KcsTransportFileGuid.h>
#include <RosterFileGuid.h>

// Registers the handler at TPL_HIGH_LEVEL so it runs inside the reporter's call.
EFI_STATUS StatusCodeCaptureStart(EFI_BOOT_SERVICES *BootServices);
// Removes the handler: its code goes away with the harness.
VOID StatusCodeCaptureStop(VOID);
UINTN StatusCodeCaptureCount(VOID);
// One line per record: "BOARD STATUS n=.. caller=Roster|Hotlatch|KcsTransport type=.. value=..
// instance=.. data=<hex>", then a summary with the number dropped.
VOID StatusCodeCaptureReport(VOID);
