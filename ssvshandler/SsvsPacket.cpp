#include "SsvsPacket.h"

#include <VariableRequestLayout.h>
#include <Library/BaseMemoryLib.h>

// Header and request header with a one-character name and its terminator.
static constexpr UINTN kSmallestRequest = sizeof(VARIABLE_REQUEST_HEADER) + 2 * sizeof(CHAR16);
static constexpr UINTN kSmallestPacket = SMI_VARIABLE_PACKET_REQUEST_OFFSET + kSmallestRequest;

BOOLEAN SsvsRangeOverlaps(UINT64 Base, UINT64 Size, CONST SSVS_MEMORY_RANGE *Ranges, UINTN RangeCount) {
  UINT64 Last;
  UINTN Index;

  if (Size == 0) {
    return FALSE;
  }
  // A buffer past the top of the address space would reach address 0 and beyond.
  if (Base > MAX_UINTN - (Size - 1)) {
    return TRUE;
  }
  Last = Base + (Size - 1);
  for (Index = 0; Index < RangeCount; Index++) {
    UINT64 RangeLast;
    if (Ranges[Index].Size == 0) {
      continue;
    }
    // A range description that wraps covers the rest of the address space.
    RangeLast = Ranges[Index].Base > MAX_UINTN - (Ranges[Index].Size - 1)
                    ? MAX_UINTN
                    : Ranges[Index].Base + (Ranges[Index].Size - 1);
    if (Base <= RangeLast && Ranges[Index].Base <= Last) {
      return TRUE;
    }
  }
  return FALSE;
}

EFI_STATUS SsvsCapturePacket(UINT64 Address, UINT64 Size, CONST SSVS_MEMORY_RANGE *Ranges, UINTN RangeCount,
                             UINT8 *Copy, UINTN Capacity) {
  UINT32 Signature;
  UINT32 PacketSize;

  if (Size < kSmallestPacket || Size > Capacity || Address == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (SsvsRangeOverlaps(Address, Size, Ranges, RangeCount)) {
    return EFI_ACCESS_DENIED;
  }
  // The one read of the caller's memory: every later look is at the copy, which the caller
  // cannot change while it is being checked and used.
  CopyMem(Copy, (CONST VOID *)(UINTN)Address, (UINTN)Size);

  CopyMem(&Signature, Copy + OFFSET_OF(SMI_VARIABLE_PACKET_HEADER, Signature), sizeof(Signature));
  CopyMem(&PacketSize, Copy + OFFSET_OF(SMI_VARIABLE_PACKET_HEADER, PacketSize), sizeof(PacketSize));
  if (Signature != SMI_VARIABLE_PACKET_SIGNATURE || PacketSize != Size) {
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

EFI_STATUS SsvsParsePacket(CONST UINT8 *Packet, UINTN PacketSize, SSVS_VARIABLE_WRITE *Write) {
  VARIABLE_REQUEST_HEADER Header;
  CONST UINT8 *Request;
  UINTN RequestSize;
  UINTN NameSize;
  CONST CHAR16 *Name;
  UINTN Index;

  if (Packet == NULL || Write == NULL || PacketSize < kSmallestPacket || PacketSize > MAX_UINT32 ||
      ((UINTN)Packet % sizeof(UINT64)) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  Request = Packet + SMI_VARIABLE_PACKET_REQUEST_OFFSET;
  RequestSize = PacketSize - SMI_VARIABLE_PACKET_REQUEST_OFFSET;
  CopyMem(&Header, Request, sizeof(Header));

  if (Header.Function != VARIABLE_REQUEST_SET_VARIABLE) {
    return EFI_UNSUPPORTED;
  }
  if (Header.Marker != VARIABLE_REQUEST_MARKER || (Header.Attributes & EFI_VARIABLE_APPEND_WRITE) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  // The name takes what the data leaves: at least one character and the terminator, in
  // whole characters.
  if (Header.DataSize > RequestSize - VARIABLE_REQUEST_NAME_OFFSET) {
    return EFI_INVALID_PARAMETER;
  }
  NameSize = RequestSize - VARIABLE_REQUEST_NAME_OFFSET - Header.DataSize;
  if (NameSize < 2 * sizeof(CHAR16) || (NameSize % sizeof(CHAR16)) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  // The packet is 8-byte aligned and the name starts 46 bytes in: character aligned.
  static_assert((SMI_VARIABLE_PACKET_REQUEST_OFFSET + VARIABLE_REQUEST_NAME_OFFSET) % sizeof(CHAR16) == 0,
                "name alignment");
  Name = (CONST CHAR16 *)(Request + VARIABLE_REQUEST_NAME_OFFSET);
  for (Index = 0; Index + 1 < NameSize / sizeof(CHAR16); Index++) {
    if (Name[Index] == 0) {
      return EFI_INVALID_PARAMETER;
    }
  }
  if (Name[Index] != 0) {
    return EFI_INVALID_PARAMETER;
  }

  Write->Attributes = Header.Attributes;
  CopyMem(&Write->VendorGuid, &Header.VendorGuid, sizeof(EFI_GUID));
  Write->Name = Name;
  Write->NameSize = NameSize;
  Write->Data = Request + VARIABLE_REQUEST_NAME_OFFSET + NameSize;
  Write->DataSize = Header.DataSize;
  return EFI_SUCCESS;
}

BOOLEAN SsvsStatusWritable(UINT64 Address, UINT64 Size, CONST SSVS_MEMORY_RANGE *Ranges, UINTN RangeCount) {
  constexpr UINT64 StatusOffset = OFFSET_OF(SMI_VARIABLE_PACKET_HEADER, Status);
  constexpr UINT64 StatusEnd = StatusOffset + sizeof(UINT64);

  // A size no packet can have says nothing about what lies at Address: no write there.
  if (Address == 0 || Size < StatusEnd || Size > SSVS_MAX_PACKET_SIZE || Address > MAX_UINTN - StatusEnd) {
    return FALSE;
  }
  return SsvsRangeOverlaps(Address + StatusOffset, sizeof(UINT64), Ranges, RangeCount) ? FALSE : TRUE;
}
