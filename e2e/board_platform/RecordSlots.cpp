#include "RecordSlots.h"
#include "BoardOutput.h"

BOOLEAN RecordSlotTake(RECORD_SLOTS *Slots, BOOLEAN Fits, UINTN *Index) {
  if (!Fits || Slots->Used >= Slots->Capacity) {
    Slots->Dropped++;
    return FALSE;
  }
  *Index = Slots->Used++;
  return TRUE;
}

VOID RecordSlotsSummary(CONST RECORD_SLOTS *Slots, CONST CHAR8 *Title, CONST CHAR8 *UsedName) {
  BoardLineStart(Title);
  BoardAppendField(UsedName, Slots->Used);
  BoardAppendField("dropped", Slots->Dropped);
  BoardLineEnd();
}
