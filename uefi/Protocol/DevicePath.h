#pragma once
#include "../SystemTable.h"

inline constexpr EFI_GUID gEfiDevicePathProtocolGuid = {
    0x09576E91, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

// Nodes are packed byte strings: never read a node through a wider type than UINT8.
struct EFI_DEVICE_PATH_PROTOCOL {
  UINT8 Type;
  UINT8 SubType;
  UINT8 Length[2];
};
static_assert(sizeof(EFI_DEVICE_PATH_PROTOCOL) == 4, "device path header");
EFI_PROTOCOL_GUID(EFI_DEVICE_PATH_PROTOCOL, gEfiDevicePathProtocolGuid);

#define HARDWARE_DEVICE_PATH 0x01
#define HW_PCI_DP 0x01
#define ACPI_DEVICE_PATH 0x02
#define ACPI_DP 0x01
#define MESSAGING_DEVICE_PATH 0x03
#define MSG_SATA_DP 0x12
#define MEDIA_DEVICE_PATH 0x04
#define MEDIA_PIWG_FW_FILE_DP 0x06
#define END_DEVICE_PATH_TYPE 0x7F
#define END_ENTIRE_DEVICE_PATH_SUBTYPE 0xFF
#define END_INSTANCE_DEVICE_PATH_SUBTYPE 0x01

// PCI node: header, then Function at byte 4 and Device at byte 5.
#define PCI_DEVICE_PATH_LENGTH 6
#define PCI_DEVICE_PATH_FUNCTION_OFFSET 4
#define PCI_DEVICE_PATH_DEVICE_OFFSET 5

// Firmware-volume file node (how the DXE dispatcher names an image it loads): header,
// then the file's name GUID at byte 4.
#define FV_FILE_DEVICE_PATH_LENGTH 20
#define FV_FILE_DEVICE_PATH_NAME_OFFSET 4
