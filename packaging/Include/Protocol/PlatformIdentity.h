/** @file
  Platform identity, produced by the platform. Roster copies the four identity words into
  the inventory header.
**/

#ifndef ROSTER_HOTLATCH_PLATFORM_IDENTITY_H_
#define ROSTER_HOTLATCH_PLATFORM_IDENTITY_H_

#define PLATFORM_IDENTITY_PROTOCOL_GUID \
  { 0xAC6F5F1D, 0x0D53, 0x44A9, { 0xAB, 0xBE, 0xC9, 0x24, 0x57, 0xD3, 0xE3, 0x7A } }

typedef struct {
  UINT32    Revision;
  UINT16    Word4;    ///< Byte offset 4.
  UINT16    Word6;
  UINT16    Word8;
  UINT16    Word10;
} PLATFORM_IDENTITY_PROTOCOL;

extern EFI_GUID  gPlatformIdentityProtocolGuid;

#endif
