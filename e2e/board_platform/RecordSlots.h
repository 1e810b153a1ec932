// Room for a fixed number of records, taken in order. A record that finds no room is
// counted instead of written, and the summary line says how many were dropped, so a run
// that outgrows a recorder shows it in its report.
#pragma once
#include <Uefi.h>

struct RECORD_SLOTS {
  UINTN Capacity;
  UINTN Used;
  UINTN Dropped;
};

// TRUE with *Index set to the next free slot when the record Fits and a slot is left;
// otherwise the record is counted as dropped.
BOOLEAN RecordSlotTake(RECORD_SLOTS *Slots, BOOLEAN Fits, UINTN *Index);
// "<Title> <UsedName>=0x.. dropped=0x..", the recorder's last line.
VOID RecordSlotsSummary(CONST RECORD_SLOTS *Slots, CONST CHAR8 *Title, CONST CHAR8 *UsedName);
