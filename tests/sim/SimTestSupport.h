// Shared helpers of the simulator tests: a notification recorder.
#pragma once

#include "sim/Platform.h"

#include <functional>
#include <string>
#include <vector>

namespace simtest {

// What a notification saw when it ran.
struct NotifyRun {
  std::string Name;
  EFI_TPL Tpl;
};

// A notification context: its name, where runs are recorded, and an optional action
// performed inside the notification.
struct Probe {
  std::string Name;
  std::vector<NotifyRun> *Runs;
  std::function<void(EFI_EVENT)> Action;
};

inline VOID EFIAPI RecordNotify(EFI_EVENT Event, VOID *Context) {
  auto *Self = static_cast<Probe *>(Context);
  Self->Runs->push_back(NotifyRun{Self->Name, sim::Platform::Current().CurrentTpl()});
  if (Self->Action) {
    Self->Action(Event);
  }
}

inline std::vector<std::string> Names(const std::vector<NotifyRun> &Runs) {
  std::vector<std::string> Out;
  for (const auto &Run : Runs) {
    Out.push_back(Run.Name);
  }
  return Out;
}

}  // namespace simtest
