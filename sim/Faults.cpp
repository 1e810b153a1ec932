// Fault injection: every service call is counted and logged; chosen calls fail.
#include "Platform.h"

namespace sim {

void FaultInjector::FailNth(std::string_view Service, unsigned Nth, EFI_STATUS Status) {
  if (Nth == 0) {
    Fail("FailNth counts from 1");
    return;
  }
  Rules.push_back(Rule{std::string(Service), Count(Service) + Nth, Status});
}

void FaultInjector::FailAlways(std::string_view Service, EFI_STATUS Status) { Rules.push_back(Rule{std::string(Service), 0, Status}); }

void FaultInjector::FailOverallNth(unsigned Nth, EFI_STATUS Status) {
  // Counted from now, so a test can aim past the calls its set-up already made.
  Overall = std::make_pair(Total + Nth, Status);
}

void FaultInjector::Clear() {
  Rules.clear();
  Overall.reset();
}

std::optional<EFI_STATUS> FaultInjector::Check(std::string_view Service) {
  Total++;
  auto Counter = Counts.find(Service);
  if (Counter == Counts.end()) {
    Counter = Counts.emplace(std::string(Service), 0).first;
  }
  const unsigned Call = ++Counter->second;
  Log.emplace_back(Service);
  if (Overall && Overall->first == Total) {
    return Overall->second;
  }
  for (const Rule &Each : Rules) {
    if (Each.Service == Service && (Each.Nth == 0 || Each.Nth == Call)) {
      return Each.Status;
    }
  }
  return std::nullopt;
}

unsigned FaultInjector::Count(std::string_view Service) const {
  auto Counter = Counts.find(Service);
  return Counter == Counts.end() ? 0 : Counter->second;
}

}  // namespace sim
