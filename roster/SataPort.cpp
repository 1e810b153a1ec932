// Which SATA port a disk sits on, and the table of known ports that drives strike out.
#include <Library/DebugLib.h>
#include <Library/DevicePathLib.h>
#include <Library/UefiBootServicesTableLib.h>

#include "Roster.h"

// Controllers of the chipset, as the PCI node of a disk's device path names them.
#define SATA_CONTROLLER_DEVICE 0x17
#define SATA_CONTROLLER_FUNCTION 0
#define SSATA_CONTROLLER_DEVICE 0x11
#define SSATA_CONTROLLER_FUNCTION 5
#define SSATA_PORT_ID_BASE 0x10

// A disk's path is a handful of nodes; a longer walk means a path without an end node.
#define DEVICE_PATH_NODE_LIMIT 64
#define DEVICE_PATH_HEADER_LENGTH 4

UINT8 SataPortTable[NUMBER_OF_SATA] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                                       0x07, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15};

// The first PCI node of the path (the controller), or NULL when the walk finds none.
static CONST UINT8 *FindControllerNode(CONST EFI_DEVICE_PATH_PROTOCOL *Path) {
  CONST UINT8 *Node;
  UINTN NodeLength;
  UINT32 Nodes;

  Node = (CONST UINT8 *)Path;
  for (Nodes = 0; Nodes < DEVICE_PATH_NODE_LIMIT; Nodes++) {
    if (IsDevicePathEnd(Node)) {
      return NULL;
    }
    NodeLength = DevicePathNodeLength(Node);
    if (NodeLength < DEVICE_PATH_HEADER_LENGTH) {
      return NULL;
    }
    if (DevicePathType(Node) == HARDWARE_DEVICE_PATH && DevicePathSubType(Node) == HW_PCI_DP) {
      return NodeLength >= PCI_DEVICE_PATH_LENGTH ? Node : NULL;
    }
    Node += NodeLength;
  }
  return NULL;
}

BOOLEAN GetSataPortId(EFI_HANDLE *HandleBuffer, UINTN Index) {
  EFI_STATUS Status;
  EFI_DEVICE_PATH_PROTOCOL *Path;
  EFI_DISK_INFO_PROTOCOL *DiskInfo;
  CONST UINT8 *ControllerNode;
  UINT8 Device;
  UINT8 Function;
  BOOLEAN IsSata;
  BOOLEAN IsSSata;
  UINT32 IdeChannel;
  UINT32 IdeDevice;
  UINT8 PortNumber;

  Path = NULL;
  Status = HandleProtocolOf(HandleBuffer[Index], &Path);
  ASSERT_EFI_ERROR(Status);
  if (EFI_ERROR(Status) || Path == NULL) {
    return FALSE;
  }

  ControllerNode = FindControllerNode(Path);
  if (ControllerNode == NULL) {
    return FALSE;
  }
  Function = ControllerNode[PCI_DEVICE_PATH_FUNCTION_OFFSET];
  Device = ControllerNode[PCI_DEVICE_PATH_DEVICE_OFFSET];
  IsSata = Device == SATA_CONTROLLER_DEVICE && Function == SATA_CONTROLLER_FUNCTION;
  IsSSata = Device == SSATA_CONTROLLER_DEVICE && Function == SSATA_CONTROLLER_FUNCTION;
  if (!IsSata && !IsSSata) {
    return FALSE;
  }

  DiskInfo = NULL;
  Status = HandleProtocolOf(HandleBuffer[Index], &DiskInfo);
  ASSERT_EFI_ERROR(Status);
  if (EFI_ERROR(Status) || DiskInfo == NULL) {
    return FALSE;
  }
  // Behind AHCI the channel is the port number.
  IdeChannel = 0;
  IdeDevice = 0;
  Status = DiskInfo->WhichIde(DiskInfo, &IdeChannel, &IdeDevice);
  if (EFI_ERROR(Status)) {
    return FALSE;
  }
  PortNumber = (UINT8)IdeChannel;

  if (IsSata) {
    DEBUG((DEBUG_INFO, "Sata PortNum = %d\n", PortNumber));
    mSataInfo->SataPort = PortNumber;
  } else {
    DEBUG((DEBUG_INFO, "sSata PortNum = %d\n", PortNumber));
    mSataInfo->SataPort = (UINT8)(PortNumber | SSATA_PORT_ID_BASE);
    DEBUG((DEBUG_INFO, "sSata PortNum = %d\n", mSataInfo->SataPort));
  }
  return TRUE;
}

VOID CreateSataIndex(UINT8 PortId) {
  UINT8 Index;

  DEBUG((DEBUG_INFO, "Create Sata Index ...\n"));
  DEBUG((DEBUG_INFO, "Sata = %x\n", PortId));
  if (PortId == SATA_PORT_STRUCK) {
    return;
  }
  for (Index = 0; Index < NUMBER_OF_SATA; Index++) {
    if (SataPortTable[Index] == PortId) {
      mSataInfo->SataIndex = Index;
      DEBUG((DEBUG_INFO, "%x ", SataPortTable[Index]));
      DEBUG((DEBUG_INFO, "SataHdd->SataIndex = %x ", Index));
    }
  }
}

VOID CompareSataEntry(UINT8 PortId) {
  UINT8 Index;

  DEBUG((DEBUG_INFO, "Compare Sata entry ...\n"));
  if (PortId == SATA_PORT_STRUCK) {
    return;
  }
  for (Index = 0; Index < NUMBER_OF_SATA; Index++) {
    if (SataPortTable[Index] == PortId) {
      SataPortTable[Index] = SATA_PORT_STRUCK;
      DEBUG((DEBUG_INFO, "%x\n", SataPortTable[Index]));
    }
  }
}
