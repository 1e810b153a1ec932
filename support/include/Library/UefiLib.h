#pragma once
#include <Uefi.h>

// The table registered under TableGuid in the system table, or EFI_NOT_FOUND.
EFI_STATUS EfiGetSystemConfigurationTable(CONST EFI_GUID *TableGuid, VOID **Table);

// Creates a notify event, registers it for ProtocolGuid and signals it once at once.
EFI_EVENT EfiCreateProtocolNotifyEvent(CONST EFI_GUID *ProtocolGuid, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                                       VOID *NotifyContext, VOID **Registration);
