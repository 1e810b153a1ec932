// The record header that processor, memory-device and PCI records share.
#include "Roster.h"

VOID FillRecordHeader(INVENTORY_RECORD_HEADER *Header, UINT16 BodyLength, UINT8 RecordType, UINT8 Instance,
                      UINT8 Kind) {
  Header->Marker = RECORD_MARKER;
  Header->BodyLength = BodyLength;
  Header->RecordType = RecordType;
  Header->Instance = Instance;
  Header->Kind = Kind;
  Header->NameLength = RECORD_NAME_LENGTH;
  Header->Ordinal = (UINT8)(Instance + 1);
}
