// Configuration-table lookup and protocol-notify events.
#include <Uefi.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>

EFI_STATUS EfiGetSystemConfigurationTable(CONST EFI_GUID *TableGuid, VOID **Table) {
  ASSERT(TableGuid != NULL_FOR_ASSERT);
  ASSERT(Table != NULL_FOR_ASSERT);
  if (TableGuid == nullptr || Table == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Table = nullptr;
  if (gST == nullptr || gST->ConfigurationTable == nullptr) {
    return EFI_NOT_FOUND;
  }
  for (UINTN Index = 0; Index < gST->NumberOfTableEntries; Index++) {
    if (CompareGuid(TableGuid, &gST->ConfigurationTable[Index].VendorGuid)) {
      *Table = gST->ConfigurationTable[Index].VendorTable;
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

EFI_EVENT EfiCreateProtocolNotifyEvent(CONST EFI_GUID *ProtocolGuid, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                                       VOID *NotifyContext, VOID **Registration) {
  ASSERT(ProtocolGuid != NULL_FOR_ASSERT);
  ASSERT(NotifyFunction != NULL_FOR_ASSERT);
  ASSERT(Registration != NULL_FOR_ASSERT);

  EFI_EVENT Event = nullptr;
  EFI_STATUS Status = gBS->CreateEvent(EVT_NOTIFY_SIGNAL, NotifyTpl, NotifyFunction, NotifyContext, &Event);
  ASSERT_EFI_ERROR(Status);
  // The assertions return under the fixed settings: a half-made event is closed, never
  // registered or signalled, and the caller sees no event at all.
  if (EFI_ERROR(Status)) {
    return nullptr;
  }

  Status = gBS->RegisterProtocolNotify(ProtocolGuid, Event, Registration);
  ASSERT_EFI_ERROR(Status);
  if (EFI_ERROR(Status)) {
    gBS->CloseEvent(Event);
    return nullptr;
  }

  // The first signal lets the notification see the instances installed before it was armed.
  Status = gBS->SignalEvent(Event);
  ASSERT_EFI_ERROR(Status);
  return Event;
}
