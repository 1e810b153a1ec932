// The platform component that withdraws the debug hot key: it only installs the disarm
// protocol, which no one opens.
#pragma once

#include <Protocol/DebugKeyDisarm.h>
#include <sim/Platform.h>

namespace sim {

// Installs the disarm protocol on a new handle; the driver's disarm notification runs
// before this returns. Each call is a new installation.
EFI_HANDLE InstallDebugKeyDisarm(Platform &P);

}  // namespace sim
