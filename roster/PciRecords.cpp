// PCI collector: every function of an endpoint found at device 0 behind a bridge becomes a
// record carrying the link speed and width of the bridge above it.
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/PrintLib.h>
#include <Library/UefiBootServicesTableLib.h>

#include "Roster.h"

#define PCI_NAME_BUFFER_SIZE 80
#define PCI_HEADER_TYPE_0 0x00
#define PCI_HEADER_TYPE_0_MULTI_FUNCTION 0x80
#define PCI_LINK_SPEED_MASK 0x000F
#define PCI_LINK_WIDTH_SHIFT 4
#define PCI_LINK_WIDTH_MASK 0x003F

struct PCI_LINK {
  UINT8 Speed;
  UINT8 Width;
};

// The endpoint bus behind the bridge at Bus/Device/Function, or FALSE when the function
// is no bridge leading to a recordable endpoint.
static BOOLEAN FindEndpointBehind(PCI_ROOT_BRIDGE_ROUTES *Routes, UINT8 Bus, UINT8 Device, UINT8 Function,
                                  UINT8 *EndpointBus) {
  UINT8 HeaderType;
  UINT8 BaseClass;

  if (PciRead16(Routes, Bus, Device, Function, PCI_VENDOR_ID_OFFSET) == PCI_INVALID_VENDOR_ID) {
    return FALSE;
  }
  // Offset 0x19 is a bus number only in a bridge header; in a type 0 header it is a BAR byte.
  HeaderType = PciRead8(Routes, Bus, Device, Function, PCI_HEADER_TYPE_OFFSET);
  if ((HeaderType & PCI_HEADER_LAYOUT_MASK) == 0) {
    return FALSE;
  }
  *EndpointBus = PciRead8(Routes, Bus, Device, Function, PCI_BRIDGE_SECONDARY_BUS_OFFSET);

  HeaderType = PciRead8(Routes, *EndpointBus, 0, 0, PCI_HEADER_TYPE_OFFSET);
  if (HeaderType != PCI_HEADER_TYPE_0 && HeaderType != PCI_HEADER_TYPE_0_MULTI_FUNCTION) {
    return FALSE;
  }
  BaseClass = PciRead8(Routes, *EndpointBus, 0, 0, PCI_CLASSCODE_BASE_OFFSET);
  return BaseClass != PCI_CLASS_BRIDGE && BaseClass != PCI_CLASS_SYSTEM_PERIPHERAL;
}

// A bridge without a PCI Express capability has no link to report: speed and width 0.
static PCI_LINK ReadBridgeLink(PCI_ROOT_BRIDGE_ROUTES *Routes, UINT8 Bus, UINT8 Device, UINT8 Function) {
  PCI_LINK Link;
  UINT8 Capability;
  UINT16 LinkStatus;

  Link.Speed = 0;
  Link.Width = 0;
  Capability = FindPciExpressCapability(Routes, Bus, Device, Function);
  if (Capability != 0) {
    LinkStatus = PciRead16(Routes, Bus, Device, Function, (UINT32)Capability + PCI_EXPRESS_LINK_STATUS_OFFSET);
    Link.Speed = (UINT8)(LinkStatus & PCI_LINK_SPEED_MASK);
    Link.Width = (UINT8)((LinkStatus >> PCI_LINK_WIDTH_SHIFT) & PCI_LINK_WIDTH_MASK);
    DEBUG((DEBUG_INFO, "Link_Speed = %x, Link_Width = %x\n", Link.Speed, Link.Width));
  }
  return Link;
}

static VOID StorePciRecord(PCI_ROOT_BRIDGE_ROUTES *Routes, CHAR8 *NameBuffer, UINT8 Bus, UINT8 Function,
                           PCI_LINK Link) {
  PCI_RECORD *Record;
  UINT8 Index;
  UINT8 BaseClassCode;
  UINT8 SubClassCode;
  UINT16 VendorId;
  UINT16 DeviceId;
  UINT16 SubSystemVendorId;
  UINT16 SubSystemId;

  Index = mPciCount;
  DEBUG((DEBUG_INFO, "Pci Count = %x\n", Index));
  Record = &mPciArea[Index];

  FillRecordHeader(&Record->Header, PCI_RECORD_BODY_LENGTH, RECORD_TYPE_PCI, Index, RECORD_KIND_PCI);
  Record->Header.Status = RECORD_STATUS_PRESENT;

  ZeroMem(NameBuffer, PCI_NAME_BUFFER_SIZE);
  AsciiSPrint(NameBuffer, PCI_NAME_BUFFER_SIZE, "Bus=%2x Dev=%2x Fun=%2x", Bus, 0, Function);
  CopyMem(Record->Header.Name, NameBuffer, sizeof(Record->Header.Name));

  Record->Reserved74 = 0;
  Record->DeviceOrdinal = (UINT8)(Index + 1);
  Record->Bus = Bus;
  Record->Fun = Function;

  BaseClassCode = 0;
  SubClassCode = 0;
  VendorId = 0;
  DeviceId = 0;
  SubSystemVendorId = 0;
  SubSystemId = 0;
  ReadPciDeviceIds(Routes, Bus, 0, Function, &BaseClassCode, &SubClassCode, &VendorId, &DeviceId, &SubSystemVendorId,
                   &SubSystemId);
  Record->VID = VendorId;
  Record->DevId = DeviceId;
  Record->SubSystemVendorId = SubSystemVendorId;
  Record->SubSystemId = SubSystemId;
  Record->SubClassCode = SubClassCode;
  Record->BaseClassCode = BaseClassCode;

  Record->Link_Speed = Link.Speed;
  Record->Link_Width = Link.Width;

  DEBUG((DEBUG_INFO, "Link_Speed = 0x%02x,Link_Width = 0x%02x\n", Link.Speed, Link.Width));
  // One line in two messages: a format of more than 103 characters would be dropped whole.
  DEBUG((DEBUG_INFO, "VID= %x,DevId = 0x%x,SubSystemVendorId = 0x%x,", VendorId, DeviceId, SubSystemVendorId));
  DEBUG((DEBUG_INFO, "SubSystemId = 0x%x,SubClassCode = 0x%x,BaseClassCode = 0x%x\n", SubSystemId, SubClassCode,
         BaseClassCode));

  mInventoryHeader.RecordCount++;
  mInventoryHeader.PciPresent = 1;
  mPciCount++;
}

// Records the present functions of device 0 on EndpointBus; FALSE once the area is full.
static BOOLEAN RecordEndpoint(PCI_ROOT_BRIDGE_ROUTES *Routes, CHAR8 *NameBuffer, UINT8 EndpointBus, PCI_LINK Link) {
  UINT8 Function;

  for (Function = 0; Function <= PCI_MAX_FUNC; Function++) {
    if (PciRead16(Routes, EndpointBus, 0, Function, PCI_VENDOR_ID_OFFSET) == PCI_INVALID_VENDOR_ID) {
      continue;
    }
    StorePciRecord(Routes, NameBuffer, EndpointBus, Function, Link);
    if (mPciCount >= Number_Of_PCI) {
      return FALSE;
    }
  }
  return TRUE;
}

// The bus/device/function scan; ends early once the area is full.
static VOID ScanPciBuses(PCI_ROOT_BRIDGE_ROUTES *Routes, CHAR8 *NameBuffer) {
  UINT32 Bus;
  UINT32 Device;
  UINT32 Function;
  UINT8 EndpointBus;
  PCI_LINK Link;

  for (Bus = 0; Bus <= PCI_MAX_BUS; Bus++) {
    for (Device = 0; Device <= PCI_MAX_DEVICE; Device++) {
      for (Function = 0; Function <= PCI_MAX_FUNC; Function++) {
        if (!FindEndpointBehind(Routes, (UINT8)Bus, (UINT8)Device, (UINT8)Function, &EndpointBus)) {
          continue;
        }
        Link = ReadBridgeLink(Routes, (UINT8)Bus, (UINT8)Device, (UINT8)Function);
        if (!RecordEndpoint(Routes, NameBuffer, EndpointBus, Link)) {
          return;
        }
      }
    }
  }
}

VOID CollectPciInventory(VOID) {
  EFI_STATUS Status;
  PCI_ROOT_BRIDGE_ROUTES *Routes;
  CHAR8 *NameBuffer;

  if (mPciArea == NULL || mPciCount >= Number_Of_PCI) {
    return;
  }

  NameBuffer = NULL;
  Status = gBS->AllocatePool(EfiBootServicesData, PCI_NAME_BUFFER_SIZE, (VOID **)&NameBuffer);
  ASSERT_EFI_ERROR(Status);
  if (EFI_ERROR(Status) || NameBuffer == NULL) {
    return;
  }
  ZeroMem(NameBuffer, PCI_NAME_BUFFER_SIZE);

  Routes = FindPciRootBridges();
  if (Routes != NULL) {
    ScanPciBuses(Routes, NameBuffer);
    FreePciRootBridges(Routes);
  }

  gBS->FreePool(NameBuffer);
}
