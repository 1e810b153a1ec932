/** @file
  Debug-key disarm. The platform installs this protocol (with a NULL interface) when the
  debug hot key is to be withdrawn; Hotlatch then unregisters its key notifications.
**/

#ifndef ROSTER_HOTLATCH_DEBUG_KEY_DISARM_H_
#define ROSTER_HOTLATCH_DEBUG_KEY_DISARM_H_

#define DEBUG_KEY_DISARM_PROTOCOL_GUID \
  { 0x06AC6E54, 0xC189, 0x4138, { 0xBD, 0x50, 0x15, 0x45, 0x3D, 0x20, 0x88, 0xC1 } }

extern EFI_GUID  gDebugKeyDisarmProtocolGuid;

#endif
