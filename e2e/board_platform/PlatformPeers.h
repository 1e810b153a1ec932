// The platform components the drivers expect from others: the management transport,
// the platform identity, the Tesk registration service, and the installations of the
// inventory trigger and the disarm protocol.
#pragma once
#include <Uefi.h>

#define TESK_RECORD_MAX 32

// Installs the identity (with the board's words), the Tesk service and, when WithRecorder,
// the recording management transport, on one new handle. Without it the transport is a
// platform driver's: one producer of the protocol, never two.
EFI_STATUS InstallPlatformPeers(EFI_BOOT_SERVICES *BootServices, CONST UINT16 IdentityWords[4], BOOLEAN WithRecorder);
// The Tesk service's interface, which Hotlatch registers a pointer to.
VOID *TeskServiceInterface(VOID);
// Installs Guid with no interface on a handle of its own, as an outside component
// signals an event: each call is a new installation that protocol-notify events see.
EFI_STATUS InstallSignalProtocol(EFI_BOOT_SERVICES *BootServices, CONST EFI_GUID *Guid);
// "BOARD TESK op=register|unregister address=0x.. pointer=0x.." per call, then a count.
VOID TeskRecorderReport(VOID);
// What the service does when the OS switches to virtual addresses: converts each pointer
// still registered, once, with the runtime services' ConvertPointer; one
// "BOARD CONVERT address=0x.. before=0x.. after=0x.. status=0x.." line each. Runs inside
// SetVirtualAddressMap, so the report must go to a sink that needs no boot service.
VOID TeskConvertRegisteredPointers(EFI_RUNTIME_SERVICES *RuntimeServices);
