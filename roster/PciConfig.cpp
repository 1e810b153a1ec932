// Configuration-space access for the PCI walk: single reads through the root bridge that
// decodes the bus, and the PCI Express capability search.
#include <Library/DebugLib.h>

#include "Roster.h"

// A capability list is at most 48 entries long (the 192 bytes above the header, four bytes
// each): a longer walk is a list that loops.
#define PCI_CAPABILITY_STEP_LIMIT 48
// Pointers from here on cannot hold a whole capability header.
#define PCI_CAPABILITY_POINTER_LIMIT 0xF0
#define PCI_CAPABILITY_NEXT_OFFSET 1

// The destination starts as all ones, so a refused read, or a bus no root bridge
// decodes, reads as absent.
UINT8 PciRead8(PCI_ROOT_BRIDGE_ROUTES *Routes, UINT8 Bus, UINT8 Device, UINT8 Function, UINT32 Register) {
  UINT8 Value;

  Value = MAX_UINT8;
  PciRoutedRead(Routes, EfiPciWidthFifoUint8, Bus, EfiPciAddress(Bus, Device, Function, Register), &Value);
  return Value;
}

UINT16 PciRead16(PCI_ROOT_BRIDGE_ROUTES *Routes, UINT8 Bus, UINT8 Device, UINT8 Function, UINT32 Register) {
  UINT16 Value;

  Value = MAX_UINT16;
  PciRoutedRead(Routes, EfiPciWidthFifoUint16, Bus, EfiPciAddress(Bus, Device, Function, Register), &Value);
  return Value;
}

// Only the function's own list is searched.
UINT8 FindPciExpressCapability(PCI_ROOT_BRIDGE_ROUTES *Routes, UINT8 Bus, UINT8 Device, UINT8 Function) {
  UINT8 Pointer;
  UINT32 Steps;

  Pointer = PciRead8(Routes, Bus, Device, Function, PCI_CAPABILITY_POINTER_OFFSET);
  for (Steps = 0; Steps < PCI_CAPABILITY_STEP_LIMIT; Steps++) {
    if (Pointer == 0 || Pointer >= PCI_CAPABILITY_POINTER_LIMIT) {
      return 0;
    }
    if (PciRead8(Routes, Bus, Device, Function, Pointer) == EFI_PCI_CAPABILITY_ID_PCIEXP) {
      return Pointer;
    }
    Pointer = PciRead8(Routes, Bus, Device, Function, (UINT32)Pointer + PCI_CAPABILITY_NEXT_OFFSET);
  }
  return 0;
}

VOID ReadPciDeviceIds(PCI_ROOT_BRIDGE_ROUTES *Routes, UINT8 Bus, UINT8 Device, UINT8 Function, UINT8 *BaseClassCode,
                      UINT8 *SubClassCode, UINT16 *VendorId, UINT16 *DeviceId, UINT16 *SubSystemVendorId,
                      UINT16 *SubSystemId) {
  if (Routes == NULL) {
    return;
  }
  *BaseClassCode = PciRead8(Routes, Bus, Device, Function, PCI_CLASSCODE_BASE_OFFSET);
  *SubClassCode = PciRead8(Routes, Bus, Device, Function, PCI_CLASSCODE_SUBCLASS_OFFSET);
  *VendorId = PciRead16(Routes, Bus, Device, Function, PCI_VENDOR_ID_OFFSET);
  *DeviceId = PciRead16(Routes, Bus, Device, Function, PCI_DEVICE_ID_OFFSET);
  *SubSystemVendorId = PciRead16(Routes, Bus, Device, Function, PCI_SUBSYSTEM_VENDOR_ID_OFFSET);
  *SubSystemId = PciRead16(Routes, Bus, Device, Function, PCI_SUBSYSTEM_ID_OFFSET);
}
