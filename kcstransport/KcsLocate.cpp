// Where the KCS registers are: the platform's SMBIOS type 38 structure when it describes
// a KCS interface in I/O space, else the ports QEMU and most boards use.
#include <Library/BaseLib.h>
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Protocol/Smbios.h>

#include "KcsTransport.h"

// A table that hands out structures without end is read no further than this.
#define KCS_SMBIOS_MAX_STRUCTURES 64U

BOOLEAN KcsPortsFromSmbios(CONST SMBIOS_STRUCTURE *Record, UINT16 *DataPort, UINT16 *StatusPort) {
  CONST UINT8 *Bytes;
  UINT64 Base;
  UINT8 Modifier;
  UINT32 Spacing;

  if (Record == NULL || Record->Type != SMBIOS_TYPE_IPMI_DEVICE_INFORMATION ||
      Record->Length < SMBIOS_IPMI_MINIMUM_LENGTH) {
    return FALSE;
  }
  Bytes = (CONST UINT8 *)Record;
  if (Bytes[SMBIOS_IPMI_INTERFACE_TYPE] != SMBIOS_IPMI_INTERFACE_KCS) {
    return FALSE;
  }
  Base = ReadUnaligned64(Bytes + SMBIOS_IPMI_BASE_ADDRESS);
  if ((Base & 1) == 0) {
    // Memory-mapped registers: this transport speaks to I/O ports only.
    return FALSE;
  }
  Base &= ~(UINT64)1;
  Spacing = 1;
  if (Record->Length > SMBIOS_IPMI_BASE_ADDRESS_MODIFIER) {
    Modifier = Bytes[SMBIOS_IPMI_BASE_ADDRESS_MODIFIER];
    Base |= (Modifier >> 4) & 1;
    switch (Modifier >> 6) {
      case 0:
        Spacing = 1;
        break;
      case 1:
        Spacing = 4;
        break;
      case 2:
        Spacing = 16;
        break;
      default:
        return FALSE;
    }
  }
  if (Base == 0 || Base + Spacing > 0xFFFF) {
    return FALSE;
  }
  *DataPort = (UINT16)Base;
  *StatusPort = (UINT16)(Base + Spacing);
  return TRUE;
}

VOID KcsLocateInterface(KCS_INTERFACE *Kcs) {
  EFI_SMBIOS_PROTOCOL *Smbios;
  EFI_SMBIOS_HANDLE Handle;
  EFI_SMBIOS_TYPE Type;
  SMBIOS_STRUCTURE *Record;
  UINT16 DataPort;
  UINT16 StatusPort;
  UINTN Count;

  Kcs->DataPort = KCS_DEFAULT_DATA_PORT;
  Kcs->StatusPort = KCS_DEFAULT_DATA_PORT + KCS_DEFAULT_REGISTER_SPACING;
  if (EFI_ERROR(LocateProtocolOf(&Smbios))) {
    // Not yet: the default for now, and another look at the next call.
    return;
  }
  Kcs->Located = TRUE;
  Handle = SMBIOS_HANDLE_PI_RESERVED;
  for (Count = 0; Count < KCS_SMBIOS_MAX_STRUCTURES; Count++) {
    Type = SMBIOS_TYPE_IPMI_DEVICE_INFORMATION;
    Record = NULL;
    if (EFI_ERROR(Smbios->GetNext(Smbios, &Handle, &Type, &Record, NULL)) || Record == NULL) {
      break;
    }
    if (KcsPortsFromSmbios(Record, &DataPort, &StatusPort)) {
      Kcs->DataPort = DataPort;
      Kcs->StatusPort = StatusPort;
      break;
    }
  }
  DEBUG((DEBUG_INFO, "KCS interface at %x, status and command at %x\n", Kcs->DataPort, Kcs->StatusPort));
}
