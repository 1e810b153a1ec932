/** @file
  Inventory trigger. The platform installs this protocol (with a NULL interface) when
  Roster is to take the inventory; every installation is one request. Roster never opens
  the interface.
**/

#ifndef ROSTER_HOTLATCH_INVENTORY_TRIGGER_H_
#define ROSTER_HOTLATCH_INVENTORY_TRIGGER_H_

#define INVENTORY_TRIGGER_PROTOCOL_GUID \
  { 0xD4D9CBD2, 0x6B05, 0x4F60, { 0x9A, 0xB8, 0xEE, 0x89, 0xB5, 0x08, 0x7C, 0x07 } }

extern EFI_GUID  gInventoryTriggerProtocolGuid;

#endif
