// Configuration-table lookup and protocol-notify events.
#include <Uefi.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>

EFI_STATUS EfiGetSystemConfigurationTable(CONST EFI_GUID *TableGuid, VOID **Table) {
  UINTN Index;

  ASSERT(TableGuid != NULL_FOR_ASSERT);
  ASSERT(Table != NULL_FOR_ASSERT);
  if (TableGuid == NULL || Table == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  *Table = NULL;
  if (gST == NULL || gST->ConfigurationTable == NULL) {
    return EFI_NOT_FOUND;
  }
  for (Index = 0; Index < gST->NumberOfTableEntries; Index++) {
    if (CompareGuid(TableGuid, &gST->ConfigurationTable[Index].VendorGuid)) {
      *Table = gST->ConfigurationTable[Index].VendorTable;
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

EFI_EVENT EfiCreateProtocolNotifyEvent(CONST EFI_GUID *ProtocolGuid, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                                       VOID *NotifyContext, VOID **Registration) {
  EFI_EVENT Event;
  EFI_STATUS Status;

  ASSERT(ProtocolGuid != NULL_FOR_ASSERT);
  ASSERT(NotifyFunction != NULL_FOR_ASSERT);
  ASSERT(Registration != NULL_FOR_ASSERT);

  Event = NULL;
  Status = gBS->CreateEvent(EVT_NOTIFY_SIGNAL, NotifyTpl, NotifyFunction, NotifyContext, &Event);
  ASSERT_EFI_ERROR(Status);
  // The assertions return under the fixed settings: a half-made event is closed, never
  // registered or signalled, and the caller sees no event at all.
  if (EFI_ERROR(Status)) {
    return NULL;
  }

  Status = gBS->RegisterProtocolNotify(ProtocolGuid, Event, Registration);
  ASSERT_EFI_ERROR(Status);
  if (EFI_ERROR(Status)) {
    gBS->CloseEvent(Event);
    return NULL;
  }

  // The first signal lets the notification see the instances installed before it was armed.
  Status = gBS->SignalEvent(Event);
  ASSERT_EFI_ERROR(Status);
  return Event;
}
