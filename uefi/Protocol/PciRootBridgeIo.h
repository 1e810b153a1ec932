#pragma once
#include "../SystemTable.h"
#include "../IndustryStandard/AcpiResource.h"

inline constexpr EFI_GUID gEfiPciRootBridgeIoProtocolGuid = {
    0x2F707EBB, 0x4A1A, 0x11D4, {0x9A, 0x38, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};

typedef enum {
  EfiPciWidthUint8,
  EfiPciWidthUint16,
  EfiPciWidthUint32,
  EfiPciWidthUint64,
  EfiPciWidthFifoUint8,
  EfiPciWidthFifoUint16,
  EfiPciWidthFifoUint32,
  EfiPciWidthFifoUint64,
  EfiPciWidthFillUint8,
  EfiPciWidthFillUint16,
  EfiPciWidthFillUint32,
  EfiPciWidthFillUint64,
  EfiPciWidthMaximum
} EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH;

struct EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_IO_MEM)(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                                                                   EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width,
                                                                   UINT64 Address, UINTN Count, VOID *Buffer);

struct EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_ACCESS {
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_IO_MEM Read;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_IO_MEM Write;
};

struct EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL {
  EFI_HANDLE ParentHandle;
  EFI_STATUS(EFIAPI *PollMem)
  (EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address, UINT64 Mask,
   UINT64 Value, UINT64 Delay, UINT64 *Result);
  EFI_STATUS(EFIAPI *PollIo)
  (EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address, UINT64 Mask,
   UINT64 Value, UINT64 Delay, UINT64 *Result);
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_ACCESS Mem;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_ACCESS Io;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_ACCESS Pci;
  EFI_STATUS(EFIAPI *CopyMem)
  (EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 DestAddress,
   UINT64 SrcAddress, UINTN Count);
  VOID *Map;
  VOID *Unmap;
  VOID *AllocateBuffer;
  VOID *FreeBuffer;
  VOID *Flush;
  VOID *GetAttributes;
  VOID *SetAttributes;
  // Resources: ACPI address-space descriptors closed by an end tag, owned by the root
  // bridge (the caller neither writes nor frees them).
  EFI_STATUS(EFIAPI *Configuration)(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, VOID **Resources);
  UINT32 SegmentNumber;
};
static_assert(OFFSET_OF(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL, Pci) == 56, "root bridge layout");
static_assert(OFFSET_OF(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL, Configuration) == 136, "root bridge layout");
static_assert(OFFSET_OF(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL, SegmentNumber) == 144, "root bridge layout");
static_assert(sizeof(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL) == 152, "root bridge layout");
EFI_PROTOCOL_GUID(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL, gEfiPciRootBridgeIoProtocolGuid);

// Bus 31..24, device 23..16, function 15..8, register 7..0; a register of 256 or more
// goes into the extended-register field in the upper 32 bits instead.
constexpr UINT64 EfiPciAddress(UINT8 Bus, UINT8 Device, UINT8 Function, UINT32 Register) {
  UINT64 Address = ((UINT64)Bus << 24) | ((UINT64)Device << 16) | ((UINT64)Function << 8);
  if (Register < 256) {
    return Address | Register;
  }
  return Address | ((UINT64)Register << 32);
}
static_assert(EfiPciAddress(0x3B, 0, 1, 0x0E) == 0x3B00010E, "PCI address encoding");
static_assert(EfiPciAddress(1, 2, 3, 0x100) == 0x0000010001020300ULL, "extended register encoding");
