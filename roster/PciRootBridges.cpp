// The PCI root bridges of one walk: which instance decodes which bus. A two-socket board
// has a root bridge per socket, each refusing configuration reads of buses outside its
// own range, so every read must go to the instance that owns its bus.
#include <Library/BaseMemoryLib.h>
#include <Library/UefiBootServicesTableLib.h>

#include "Roster.h"

// A root bridge reports a handful of descriptors (I/O, memory windows, buses); a list
// that runs on this long has lost its end tag.
#define ACPI_DESCRIPTOR_STEP_LIMIT 64
#define ACPI_QWORD_DESCRIPTOR_BODY_LENGTH (sizeof(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR) - ACPI_LARGE_ITEM_HEADER_SIZE)

BOOLEAN GetPciRootBridgeBusRange(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *RootBridgeIo, UINT8 *FirstBus, UINT8 *LastBus) {
  EFI_STATUS Status;
  VOID *Resources;
  CONST UINT8 *Item;
  CONST EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR *Descriptor;
  UINT16 BodyLength;
  UINTN Step;

  Resources = NULL;
  Status = RootBridgeIo->Configuration(RootBridgeIo, &Resources);
  if (EFI_ERROR(Status) || Resources == NULL) {
    return FALSE;
  }
  Item = (CONST UINT8 *)Resources;
  for (Step = 0; Step < ACPI_DESCRIPTOR_STEP_LIMIT && Item[0] != ACPI_END_TAG_DESCRIPTOR; Step++) {
    if ((Item[0] & ACPI_LARGE_ITEM_FLAG) == 0) {
      Item += 1 + (Item[0] & ACPI_SMALL_ITEM_LENGTH_MASK);
      continue;
    }
    Descriptor = (CONST EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR *)Item;
    BodyLength = Descriptor->Len;
    if (Descriptor->Desc == ACPI_ADDRESS_SPACE_DESCRIPTOR && BodyLength >= ACPI_QWORD_DESCRIPTOR_BODY_LENGTH &&
        Descriptor->ResType == ACPI_ADDRESS_SPACE_TYPE_BUS) {
      // An empty or inverted range decodes nothing: the instance counts as one without.
      if (Descriptor->AddrRangeMin > PCI_MAX_BUS || Descriptor->AddrRangeMin > Descriptor->AddrRangeMax) {
        return FALSE;
      }
      *FirstBus = (UINT8)Descriptor->AddrRangeMin;
      *LastBus = Descriptor->AddrRangeMax > PCI_MAX_BUS ? (UINT8)PCI_MAX_BUS : (UINT8)Descriptor->AddrRangeMax;
      return TRUE;
    }
    Item += ACPI_LARGE_ITEM_HEADER_SIZE + BodyLength;
  }
  return FALSE;
}

// Instances with a bus range claim it in handle order, so on an overlap (separate PCI
// segments) the first one keeps the bus. Instances without one are kept aside for the
// buses nobody claimed.
PCI_ROOT_BRIDGE_ROUTES *FindPciRootBridges(VOID) {
  EFI_STATUS Status;
  EFI_HANDLE *Handles;
  UINTN HandleCount;
  UINTN Index;
  UINTN Found;
  UINTN Bus;
  UINT8 FirstBus;
  UINT8 LastBus;
  PCI_ROOT_BRIDGE_ROUTES *Routes;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *RootBridgeIo;

  Handles = NULL;
  HandleCount = 0;
  Status = gBS->LocateHandleBuffer(ByProtocol, &gEfiPciRootBridgeIoProtocolGuid, NULL, &HandleCount, &Handles);
  if (EFI_ERROR(Status) || Handles == NULL) {
    return NULL;
  }

  Routes = NULL;
  if (HandleCount <= (MAX_UINTN - sizeof(PCI_ROOT_BRIDGE_ROUTES)) / sizeof(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *)) {
    Status = gBS->AllocatePool(EfiBootServicesData,
                               sizeof(PCI_ROOT_BRIDGE_ROUTES) + HandleCount * sizeof(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *),
                               (VOID **)&Routes);
    if (EFI_ERROR(Status)) {
      Routes = NULL;
    }
  }
  if (Routes == NULL) {
    goto Done;
  }
  ZeroMem(Routes, sizeof(PCI_ROOT_BRIDGE_ROUTES));
  Routes->Unranged = (EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL **)(Routes + 1);

  Found = 0;
  for (Index = 0; Index < HandleCount; Index++) {
    RootBridgeIo = NULL;
    Status = HandleProtocolOf(Handles[Index], &RootBridgeIo);
    if (EFI_ERROR(Status) || RootBridgeIo == NULL) {
      continue;
    }
    Found++;
    if (!GetPciRootBridgeBusRange(RootBridgeIo, &FirstBus, &LastBus)) {
      Routes->Unranged[Routes->UnrangedCount++] = RootBridgeIo;
      continue;
    }
    for (Bus = FirstBus; Bus <= LastBus; Bus++) {
      if (Routes->BusOwner[Bus] == NULL) {
        Routes->BusOwner[Bus] = RootBridgeIo;
      }
    }
  }
  if (Found == 0) {
    gBS->FreePool(Routes);
    Routes = NULL;
  }

Done:
  gBS->FreePool(Handles);
  return Routes;
}

VOID FreePciRootBridges(PCI_ROOT_BRIDGE_ROUTES *Routes) {
  if (Routes != NULL) {
    gBS->FreePool(Routes);
  }
}

// A bus that an instance with a range owns is read there and nowhere else. Any other bus
// is offered to the instances without a range in handle order, and the first that
// accepts a read owns it from then on; a bus none of them accepts stays unowned and reads
// as the refusal left the destination.
VOID PciRoutedRead(PCI_ROOT_BRIDGE_ROUTES *Routes, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT8 Bus,
                   UINT64 Address, VOID *Buffer) {
  EFI_STATUS Status;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *RootBridgeIo;
  UINTN Index;

  RootBridgeIo = Routes->BusOwner[Bus];
  if (RootBridgeIo != NULL) {
    RootBridgeIo->Pci.Read(RootBridgeIo, Width, Address, 1, Buffer);
    return;
  }
  for (Index = 0; Index < Routes->UnrangedCount; Index++) {
    RootBridgeIo = Routes->Unranged[Index];
    Status = RootBridgeIo->Pci.Read(RootBridgeIo, Width, Address, 1, Buffer);
    if (!EFI_ERROR(Status)) {
      Routes->BusOwner[Bus] = RootBridgeIo;
      return;
    }
  }
}
