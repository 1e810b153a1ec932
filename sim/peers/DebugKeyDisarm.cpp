#include "DebugKeyDisarm.h"

namespace sim {

namespace {
// The interface has no members; any address distinct from null will do.
UINT8 DisarmInterface;
}  // namespace

EFI_HANDLE InstallDebugKeyDisarm(Platform &P) {
  EFI_HANDLE Handle = nullptr;
  if (EFI_ERROR(P.InstallProtocol(&Handle, gDebugKeyDisarmProtocolGuid, &DisarmInterface))) {
    Fail("disarm protocol install failed");
  }
  return Handle;
}

}  // namespace sim
