// Module state of the Tesk registration client, shared by its files.
#pragma once
#include <Uefi.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>
#include <Protocol/TeskRegistration.h>

#include "TeskRegistrationLib.h"

extern TESK_REGISTRATION_PROTOCOL *mTeskService;
extern BOOLEAN mTeskRuntimeImage;
// The wait for the service, created only when the constructor did not find it.
extern EFI_EVENT mTeskRegEvent;

VOID EFIAPI TeskRegistrationNotify(EFI_EVENT Event, VOID *Context);
