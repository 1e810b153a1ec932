// Private interface of the inventory driver: the module-wide inventory state and the
// routines its files share. One inventory runs per boot, inside InventoryEventNotify.
// The message texts (for example "InvData CalCrc32" or "Temp = %d") are the platform's own
// and its log readers match them as they stand; they are not typos.
#pragma once

#include <Uefi.h>
#include <InventoryLayout.h>
#include <Protocol/ManagementTransport.h>
#include <Protocol/PlatformIdentity.h>

// --- Module-wide inventory state (zero at load).
extern VOID *mInventoryRegistration;
extern INVENTORY_HEADER mInventoryHeader;
extern UINT8 mCpuCount;
extern UINT8 mDimmCount;
extern UINT8 mPciCount;
extern CPU_RECORD *mCpuArea;
extern DIMM_RECORD *mDimmArea;
extern PCI_RECORD *mPciArea;
extern MANAGEMENT_TRANSPORT_PROTOCOL *mManagementTransport;

// --- SATA step state. mSataInfo and mSataSendBuffer live only inside one
// SendSataInventory; SataPortTable outlives it: a reported drive strikes its port's entry
// for the rest of the image's life, so a later pass would not report that port again.
// A SataPortTable entry whose drive has been reported; no port ID ever matches it.
#define SATA_PORT_STRUCK 0xFF
extern UINT8 SataPortTable[NUMBER_OF_SATA];
extern SATA_INFO *mSataInfo;
extern SATA_INFO *mSataSendBuffer;

// --- Start and event.
EFI_STATUS InventoryStart(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
VOID EFIAPI InventoryEventNotify(EFI_EVENT Event, VOID *Context);

// --- Image and delivery.
VOID ReadPlatformIdentity(VOID);
EFI_STATUS AssembleAndSendInventory(VOID);

// --- Records of all three kinds.
// Marker, BodyLength, RecordType, Instance, Kind, NameLength and Ordinal; Status and Name
// are the kind's own.
VOID FillRecordHeader(INVENTORY_RECORD_HEADER *Header, UINT16 BodyLength, UINT8 RecordType, UINT8 Instance, UINT8 Kind);

// --- SMBIOS processor and memory records.
VOID CollectSmbiosInventory(VOID);
// Returns the string's first character (or NULL when the string set holds no such string)
// and its length, capped at 255 characters.
CHAR8 *GetSmbiosString(SMBIOS_STRUCTURE *Structure, UINT8 Length, UINT8 Number, UINT8 *StringLength);
VOID ReadBiosVersion(SMBIOS_STRUCTURE *Structure);
VOID FillCpuRecord(SMBIOS_STRUCTURE *Structure);
VOID FillDimmRecord(SMBIOS_STRUCTURE *Structure);
// Formatted-area reads that answer 0 for a field the structure's Length does not cover.
UINT8 SmbiosByte(CONST SMBIOS_STRUCTURE *Structure, UINT8 Offset);
UINT16 SmbiosWord(CONST SMBIOS_STRUCTURE *Structure, UINT8 Offset);
// Copies string Number of Structure into a field of FieldSize bytes, cut to the field.
VOID CopySmbiosString(SMBIOS_STRUCTURE *Structure, UINT8 Number, CHAR8 *Field, UINTN FieldSize);
VOID ByteToHexAscii(UINT8 Value, CHAR8 *Destination);
VOID WordToHexAscii(UINT16 Value, CHAR8 *Destination);
// Four bytes from the first eight characters of a hexadecimal serial text.
VOID DecodeDimmSerial(CONST CHAR8 *Serial, UINT8 SerialLength, UINT8 *Destination);

// --- PCI device records.
VOID CollectPciInventory(VOID);

// The root bridge instances of one walk, found once at its start.
struct PCI_ROOT_BRIDGE_ROUTES {
  // The instance that decodes each bus; NULL where none is known to.
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *BusOwner[PCI_MAX_BUS + 1];
  // Instances whose Configuration() names no bus range, in handle order.
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL **Unranged;
  UINTN UnrangedCount;
};
// Every root bridge instance in handle order, each with the bus range of its
// Configuration() resources; NULL when there is none. Free with FreePciRootBridges.
PCI_ROOT_BRIDGE_ROUTES *FindPciRootBridges(VOID);
VOID FreePciRootBridges(PCI_ROOT_BRIDGE_ROUTES *Routes);
// The bus-number descriptor of the instance's Configuration() resources, cut to 0..255;
// FALSE when it reports none.
BOOLEAN GetPciRootBridgeBusRange(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *RootBridgeIo, UINT8 *FirstBus, UINT8 *LastBus);
// One read of Count 1 through the instance that decodes Bus; none when no instance does.
VOID PciRoutedRead(PCI_ROOT_BRIDGE_ROUTES *Routes, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT8 Bus,
                   UINT64 Address, VOID *Buffer);

// Does nothing to the outputs when Routes is NULL (no root bridge).
VOID ReadPciDeviceIds(PCI_ROOT_BRIDGE_ROUTES *Routes, UINT8 Bus, UINT8 Device, UINT8 Function, UINT8 *BaseClassCode,
                      UINT8 *SubClassCode, UINT16 *VendorId, UINT16 *DeviceId, UINT16 *SubSystemVendorId,
                      UINT16 *SubSystemId);
// Single configuration reads; the result is all ones when the read is refused or no root
// bridge decodes the bus.
UINT8 PciRead8(PCI_ROOT_BRIDGE_ROUTES *Routes, UINT8 Bus, UINT8 Device, UINT8 Function, UINT32 Register);
UINT16 PciRead16(PCI_ROOT_BRIDGE_ROUTES *Routes, UINT8 Bus, UINT8 Device, UINT8 Function, UINT32 Register);
// Offset of the PCI Express capability of a function, or 0 when its list has none.
UINT8 FindPciExpressCapability(PCI_ROOT_BRIDGE_ROUTES *Routes, UINT8 Bus, UINT8 Device, UINT8 Function);

// --- SATA drive records.
EFI_STATUS SendSataInventory(VOID);
// TRUE when the handle's controller and port were derived and SataPort was written.
BOOLEAN GetSataPortId(EFI_HANDLE *HandleBuffer, UINTN Index);
VOID GetHddSize(UINT8 *IdentifyData);
VOID SwapBytePairs(UINT8 *Buffer, UINT16 Length);
VOID ParseString(UINT8 *Buffer, UINT8 Length);
VOID CreateSataIndex(UINT8 PortId);
VOID CompareSataEntry(UINT8 PortId);
// Sends mSataSendBuffer with up to three attempts.
EFI_STATUS SendSataMessage(VOID);
// Byte dumps in the debug log show this many bytes to a line.
#define BYTES_PER_LINE 16
// Prints Count bytes as "%02x " each, a line break before every sixteenth but the first;
// the SATA message and the IDENTIFY strings share it.
VOID DumpBytes(CONST UINT8 *Bytes, UINT32 Count);
// Prints the bytes of mSataSendBuffer (a SATA_INFO), BYTES_PER_LINE to a line.
VOID DumpSataMessage(VOID);
