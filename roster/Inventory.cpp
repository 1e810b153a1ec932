// Driver start and the one-shot inventory event: the module-wide state, the order of the
// collectors and the lifetime of the record areas.
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Protocol/InventoryTrigger.h>

#include "Roster.h"

VOID *mInventoryRegistration;
INVENTORY_HEADER mInventoryHeader;
UINT8 mCpuCount;
UINT8 mDimmCount;
UINT8 mPciCount;
CPU_RECORD *mCpuArea;
DIMM_RECORD *mDimmArea;
PCI_RECORD *mPciArea;

// Allocates one record area and zero-fills it; NULL when the pool refused it.
static VOID *AllocateRecordArea(UINTN Size) {
  EFI_STATUS Status;
  VOID *Area;

  Area = NULL;
  Status = gBS->AllocatePool(EfiBootServicesData, Size, &Area);
  ASSERT_EFI_ERROR(Status);
  if (EFI_ERROR(Status) || Area == NULL) {
    return NULL;
  }
  ZeroMem(Area, Size);
  return Area;
}

static VOID FreeRecordAreas(VOID) {
  if (mCpuArea != NULL) {
    gBS->FreePool(mCpuArea);
    mCpuArea = NULL;
  }
  if (mDimmArea != NULL) {
    gBS->FreePool(mDimmArea);
    mDimmArea = NULL;
  }
  if (mPciArea != NULL) {
    gBS->FreePool(mPciArea);
    mPciArea = NULL;
  }
}

// Arms the inventory: only an installation of the trigger after this call runs it.
EFI_STATUS InventoryStart(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Status;
  EFI_EVENT InventoryEvent;

  DEBUG((DEBUG_INFO, "Inventory Function Init"));

  InventoryEvent = NULL;
  Status = gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, InventoryEventNotify, NULL, &InventoryEvent);
  if (EFI_ERROR(Status)) {
    return Status;
  }

  Status = gBS->RegisterProtocolNotify(&gInventoryTriggerProtocolGuid, InventoryEvent, &mInventoryRegistration);
  if (EFI_ERROR(Status)) {
    // The dispatcher unloads a driver whose start failed: nothing may still point into it.
    gBS->CloseEvent(InventoryEvent);
  }
  return Status;
}

// Takes the whole inventory once, delivers it and closes its own event.
VOID EFIAPI InventoryEventNotify(EFI_EVENT Event, VOID *Context) {
  DEBUG((DEBUG_INFO, "Inventory function Event initialize\n"));

  mCpuCount = 0;
  mDimmCount = 0;
  mPciCount = 0;
  ZeroMem(&mInventoryHeader, sizeof(mInventoryHeader));

  mCpuArea = (CPU_RECORD *)AllocateRecordArea(CPU_AREA_SIZE);
  if (mCpuArea != NULL) {
    mDimmArea = (DIMM_RECORD *)AllocateRecordArea(DIMM_AREA_SIZE);
  }
  if (mDimmArea != NULL) {
    mPciArea = (PCI_RECORD *)AllocateRecordArea(PCI_AREA_SIZE);
  }

  // Without all three areas the collectors would write into memory that is not there.
  if (mPciArea != NULL) {
    DEBUG((DEBUG_INFO, "Number_Of_CPU = %x\n", Number_Of_CPU));
    DEBUG((DEBUG_INFO, "Number_Of_DIMM = %x\n", Number_Of_DIMM));
    DEBUG((DEBUG_INFO, "Number_Of_PCI = %x\n", Number_Of_PCI));

    CollectSmbiosInventory();
    CollectPciInventory();
    ReadPlatformIdentity();
    AssembleAndSendInventory();
  }

  DEBUG((DEBUG_INFO, "Inventory function Event exit\n"));

  FreeRecordAreas();
  gBS->CloseEvent(Event);
}
