// The PCI root bridges as the firmware publishes them: each instance's bus range from
// its Configuration() descriptors, reported so the runner can compare them with the board.
#pragma once
#include <Uefi.h>
#include <Protocol/PciRootBridgeIo.h>

#define BOARD_ROOT_BRIDGE_LIMIT 16

struct BOARD_ROOT_BRIDGE {
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Io;
  EFI_STATUS ConfigurationStatus;
  BOOLEAN HasBuses;
  UINT64 FirstBus;
  UINT64 LastBus;
  UINT64 BusLength;
  UINTN Descriptors;
};

struct BOARD_ROOT_BRIDGES {
  UINTN Count;
  BOARD_ROOT_BRIDGE Bridge[BOARD_ROOT_BRIDGE_LIMIT];
};

// The instances in handle order (at most BOARD_ROOT_BRIDGE_LIMIT).
VOID FindRootBridges(EFI_BOOT_SERVICES *BootServices, BOARD_ROOT_BRIDGES *Bridges);
// "BOARD ROOTBRIDGE n=.. segment=.. config=<status> descriptors=.. buses=0|1 first=.. last=.. length=.."
// per instance, then "BOARD ROOTBRIDGES count=..".
VOID ReportRootBridges(CONST BOARD_ROOT_BRIDGES *Bridges);
// For the bare scan: per bus, the first instance that accepts a read of it (one probe
// read per instance tried), or NULL when none does.
VOID FindAcceptingRootBridges(CONST BOARD_ROOT_BRIDGES *Bridges, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Route[256]);
