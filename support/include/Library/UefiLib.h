#pragma once
#include <Uefi.h>

// Creates a notify event, registers it for ProtocolGuid and signals it once at once.
EFI_EVENT EfiCreateProtocolNotifyEvent(CONST EFI_GUID *ProtocolGuid, EFI_TPL NotifyTpl,
                                       EFI_EVENT_NOTIFY NotifyFunction, VOID *NotifyContext,
                                       VOID **Registration);
