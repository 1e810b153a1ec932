// Runs a DEBUG the settled level mask filters out, many times, for callgrind:
//   valgrind --tool=callgrind --toggle-collect='*FilteredDebug*' support_filtered_debug_bench
// The instruction count per call is the total divided by the number of calls.
#include "SupportProbe.h"
#include "sim/Hob.h"
#include "sim/Platform.h"

#include <cstdio>
#include <cstdlib>

int main(int Argc, char **Argv) {
  const unsigned Calls = Argc > 1 ? static_cast<unsigned>(std::atoi(Argv[1])) : 100000;
  sim::Platform Platform;
  Platform.SetHobList(sim::HobListBuilder().Build());
  sim::LoadedDriver Image = Platform.LoadModule(SUPPORT_PROBE_MODULE, SUPPORT_PROBE_SUBSYSTEM);
  if (Image.Start() != EFI_SUCCESS) {
    return 1;
  }
  auto Table = reinterpret_cast<SupportProbeFunction>(Image.Symbol(kSupportProbeSymbol));
  const SUPPORT_PROBE *Probe = Table();
  unsigned ReadsBefore = Platform.Faults().Count("GetVariable");
  size_t CallsBefore = Platform.Faults().CallLog().size();
  for (unsigned Index = 0; Index < Calls; Index++) {
    Probe->FilteredDebug();
  }
  std::printf("%u filtered messages: %zu platform calls, %u variable reads, %zu live allocations\n", Calls,
              Platform.Faults().CallLog().size() - CallsBefore, Platform.Faults().Count("GetVariable") - ReadsBefore,
              Platform.LiveAllocations());
  return 0;
}
