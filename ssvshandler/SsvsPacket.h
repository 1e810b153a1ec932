// The checks between a software SMI's registers and a variable write: where the packet may
// lie, how it is taken into MMRAM, and what of the copy is a well-formed request. Plain
// functions on bytes and ranges, so every refusal can be proven on the host.
#pragma once
#include <Uefi.h>

// The largest packet served: far above a setup record, small enough to keep one copy
// buffer in MMRAM for the whole boot.
#define SSVS_MAX_PACKET_SIZE 0x10000U

// A region the packet must not touch (MMRAM, or memory MM may not access).
struct SSVS_MEMORY_RANGE {
  UINT64 Base;
  UINT64 Size;
};

// The write a packet asks for; Name and Data point into the MMRAM copy.
struct SSVS_VARIABLE_WRITE {
  UINT32 Attributes;
  EFI_GUID VendorGuid;
  CONST CHAR16 *Name;
  UINTN NameSize;  // in bytes, terminator included
  CONST UINT8 *Data;
  UINTN DataSize;
};

// TRUE when [Base, Base + Size) shares a byte with any of the ranges, or wraps past the top
// of the address space. An empty range overlaps nothing.
BOOLEAN SsvsRangeOverlaps(UINT64 Base, UINT64 Size, CONST SSVS_MEMORY_RANGE *Ranges, UINTN RangeCount);

// Takes Size bytes at Address (RBX and RSI of the caller) into Copy, which lies in MMRAM and
// holds Capacity bytes, and checks that the copy is an "SSVS" packet of that size. The
// source is read once, by the copy, and only after the bounds are known to be sound:
//   EFI_INVALID_PARAMETER  Size below the smallest packet or above Capacity, or the copy's
//                          signature or size field wrong;
//   EFI_ACCESS_DENIED      the packet wraps or touches one of the ranges (nothing is read).
EFI_STATUS SsvsCapturePacket(UINT64 Address, UINT64 Size, CONST SSVS_MEMORY_RANGE *Ranges, UINTN RangeCount,
                             UINT8 *Copy, UINTN Capacity);

// Decodes a captured packet of PacketSize bytes (8-byte aligned): request code, marker,
// attributes, a name that fills exactly the bytes before the data and ends with its only
// null character, data that ends with the packet.
//   EFI_INVALID_PARAMETER  any length, the marker, the name or an append write is wrong;
//   EFI_UNSUPPORTED        a well-formed request for another function.
EFI_STATUS SsvsParsePacket(CONST UINT8 *Packet, UINTN PacketSize, SSVS_VARIABLE_WRITE *Write);

// TRUE when the 8-byte status field of a packet at Address may be written: inside a packet
// of Size bytes, Size no larger than a packet served, not wrapping, clear of every range.
BOOLEAN SsvsStatusWritable(UINT64 Address, UINT64 Size, CONST SSVS_MEMORY_RANGE *Ranges, UINTN RangeCount);
