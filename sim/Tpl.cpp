// Task priority levels and the dispatch of queued notifications. A notification runs when
// the TPL drops below its own: highest level first, first signalled first within a level,
// each at its own TPL, so it never interrupts code at the same or a higher level.
#include "ServiceEntry.h"

namespace sim {

EFI_TPL Platform::Impl::RaiseTpl(EFI_TPL NewTpl) {
  EFI_TPL Old = Owner.Tpl;
  if (NewTpl > TPL_HIGH_LEVEL) {
    Fail(Severity::Unsafe, "RaiseTPL above TPL_HIGH_LEVEL: " + std::to_string(NewTpl));
    return Old;
  }
  if (NewTpl < Old) {
    Fail(Severity::Unsafe, "RaiseTPL to a lower level: " + std::to_string(NewTpl) + " from " + std::to_string(Old));
    return Old;
  }
  Owner.Tpl = NewTpl;
  return Old;
}

void Platform::Impl::RestoreTpl(EFI_TPL OldTpl) {
  if (OldTpl > Owner.Tpl) {
    Fail(Severity::Unsafe,
         "RestoreTPL to a higher level: " + std::to_string(OldTpl) + " from " + std::to_string(Owner.Tpl));
    return;
  }
  Owner.Tpl = OldTpl;
  DispatchPending();
}

void Platform::Impl::DispatchPending() {
  const EFI_TPL Base = Owner.Tpl;
  for (;;) {
    EFI_TPL Level = TPL_HIGH_LEVEL;
    while (Level > Base && NotifyQueue[Level].empty()) {
      Level--;
    }
    if (Level <= Base) {
      break;
    }
    EventRecord *Event = NotifyQueue[Level].front();
    NotifyQueue[Level].pop_front();
    Event->Queued = false;
    // A signal-type event is no longer signalled once its notification runs.
    if ((Event->Type & EVT_NOTIFY_SIGNAL) != 0) {
      Event->Signaled = false;
    }
    if (Event->Orphaned) {
      Fail("an event of an unloaded module was signalled; its notification is skipped");
      continue;
    }
    Owner.Tpl = Level;
    Event->Notify(Event, Event->Context);
    Owner.Tpl = Base;
  }
}

namespace {

EFI_TPL EFIAPI SimRaiseTpl(EFI_TPL NewTpl) {
  EFI_TPL Old = TPL_APPLICATION;
  BootServiceNoStatus("RaiseTPL", [&](Platform::Impl &S) { Old = S.RaiseTpl(NewTpl); });
  return Old;
}

VOID EFIAPI SimRestoreTpl(EFI_TPL OldTpl) {
  BootServiceNoStatus("RestoreTPL", [&](Platform::Impl &S) { S.RestoreTpl(OldTpl); });
}

}  // namespace

void FillTplServices(EFI_BOOT_SERVICES &Bs) {
  Bs.RaiseTPL = SimRaiseTpl;
  Bs.RestoreTPL = SimRestoreTpl;
}

}  // namespace sim
