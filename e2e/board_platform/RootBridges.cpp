#include "RootBridges.h"
#include "BoardOutput.h"

namespace {

// A descriptor list without its end tag is cut off here.
constexpr UINTN kDescriptorLimit = 64;

VOID ReadBusRange(BOARD_ROOT_BRIDGE *Bridge) {
  VOID *Resources = NULL;
  Bridge->ConfigurationStatus = Bridge->Io->Configuration(Bridge->Io, &Resources);
  if (EFI_ERROR(Bridge->ConfigurationStatus) || Resources == NULL) {
    return;
  }
  CONST UINT8 *Item = (CONST UINT8 *)Resources;
  for (UINTN Index = 0; Index < kDescriptorLimit && Item[0] != ACPI_END_TAG_DESCRIPTOR; Index++) {
    if ((Item[0] & ACPI_LARGE_ITEM_FLAG) == 0) {
      Item += 1 + (Item[0] & ACPI_SMALL_ITEM_LENGTH_MASK);
      continue;
    }
    CONST EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR *Descriptor = (CONST EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR *)Item;
    Bridge->Descriptors++;
    if (Descriptor->Desc == ACPI_ADDRESS_SPACE_DESCRIPTOR && Descriptor->ResType == ACPI_ADDRESS_SPACE_TYPE_BUS &&
        !Bridge->HasBuses) {
      Bridge->HasBuses = TRUE;
      Bridge->FirstBus = Descriptor->AddrRangeMin;
      Bridge->LastBus = Descriptor->AddrRangeMax;
      Bridge->BusLength = Descriptor->AddrLen;
    }
    Item += ACPI_LARGE_ITEM_HEADER_SIZE + Descriptor->Len;
  }
}

}  // namespace

VOID FindRootBridges(EFI_BOOT_SERVICES *BootServices, BOARD_ROOT_BRIDGES *Bridges) {
  *Bridges = {};
  UINTN Count = 0;
  EFI_HANDLE *Handles = NULL;
  if (EFI_ERROR(
          BootServices->LocateHandleBuffer(ByProtocol, &gEfiPciRootBridgeIoProtocolGuid, NULL, &Count, &Handles))) {
    return;
  }
  for (UINTN Index = 0; Index < Count && Bridges->Count < BOARD_ROOT_BRIDGE_LIMIT; Index++) {
    EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Io = NULL;
    if (EFI_ERROR(BootServices->HandleProtocol(Handles[Index], &gEfiPciRootBridgeIoProtocolGuid, (VOID **)&Io)) ||
        Io == NULL) {
      continue;
    }
    BOARD_ROOT_BRIDGE *Bridge = &Bridges->Bridge[Bridges->Count++];
    Bridge->Io = Io;
    ReadBusRange(Bridge);
  }
  BootServices->FreePool(Handles);
}

VOID ReportRootBridges(CONST BOARD_ROOT_BRIDGES *Bridges) {
  for (UINTN Index = 0; Index < Bridges->Count; Index++) {
    CONST BOARD_ROOT_BRIDGE *Bridge = &Bridges->Bridge[Index];
    BoardLineStart("BOARD ROOTBRIDGE");
    BoardAppendField("n", Index);
    BoardAppendField("segment", Bridge->Io->SegmentNumber);
    BoardAppendField("config", Bridge->ConfigurationStatus);
    BoardAppendField("descriptors", Bridge->Descriptors);
    BoardAppendField("buses", Bridge->HasBuses);
    BoardAppendField("first", Bridge->FirstBus);
    BoardAppendField("last", Bridge->LastBus);
    BoardAppendField("length", Bridge->BusLength);
    BoardLineEnd();
  }
  BoardLineStart("BOARD ROOTBRIDGES");
  BoardAppendField("count", Bridges->Count);
  BoardLineEnd();
}

VOID FindAcceptingRootBridges(CONST BOARD_ROOT_BRIDGES *Bridges, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Route[256]) {
  for (UINT32 Bus = 0; Bus < 256; Bus++) {
    Route[Bus] = NULL;
    for (UINTN Index = 0; Index < Bridges->Count && Route[Bus] == NULL; Index++) {
      EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Io = Bridges->Bridge[Index].Io;
      UINT16 VendorId = 0xFFFF;
      if (!EFI_ERROR(Io->Pci.Read(Io, EfiPciWidthUint16, EfiPciAddress((UINT8)Bus, 0, 0, 0), 1, &VendorId))) {
        Route[Bus] = Io;
      }
    }
  }
}
