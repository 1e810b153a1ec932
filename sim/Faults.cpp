// Fault injection: every service call is counted and, unless a harness turned the log off,
// logged; chosen calls fail.
#include "Platform.h"

namespace sim {

FaultInjector::FaultInjector() {
  static unsigned long long Injectors = 0;
  Serial_ = ++Injectors;
}

void FaultInjector::FailNth(std::string_view Service, unsigned Nth, EFI_STATUS Status) {
  if (Nth == 0) {
    Fail("FailNth counts from 1");
    return;
  }
  Rules.push_back(Rule{std::string(Service), Count(Service) + Nth, Status});
}

void FaultInjector::FailAlways(std::string_view Service, EFI_STATUS Status) {
  Rules.push_back(Rule{std::string(Service), 0, Status});
}

void FaultInjector::FailOverallNth(unsigned Nth, EFI_STATUS Status) {
  // Counted from now, so a test can aim past the calls its set-up already made.
  Overall = std::make_pair(Total + Nth, Status);
}

void FaultInjector::Clear() {
  Rules.clear();
  Overall.reset();
}

FaultInjector::ServiceCounter &FaultInjector::Counter(std::string_view Service) {
  if (Latest == nullptr || Latest->first != Service) {
    auto Found = Counts.find(Service);
    if (Found == Counts.end()) {
      Found = Counts.emplace(std::string(Service), 0).first;
    }
    Latest = &*Found;
  }
  return *Latest;
}

std::optional<EFI_STATUS> FaultInjector::Check(std::string_view Service) { return Check(Counter(Service)); }

std::optional<EFI_STATUS> FaultInjector::Check(ServiceCounter &Service) {
  Total++;
  const unsigned Call = ++Service.second;
  if (Logging) {
    Log.push_back(Service.first);
  }
  if (Overall && Overall->first == Total) {
    return Overall->second;
  }
  for (const Rule &Each : Rules) {
    if (Each.Service == Service.first && (Each.Nth == 0 || Each.Nth == Call)) {
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
