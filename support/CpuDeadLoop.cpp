// A dead loop that says where it was entered from before it spins, so that a hung board
// names the module at fault on the debug port. A debugger releases it by writing the flag.
#include <Uefi.h>
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/ModuleEntryPoint.h>
#include "DeadLoopReport.h"
#include <Arch.h>

static constexpr UINT16 kDosSignature = 0x5A4D;  // "MZ"

VOID ReportCallerModule(UINTN Address) {
  UINTN Base;
  UINTN Position;
  UINTN Tested;
  CHAR8 Name[kDeadLoopNameBufferSize];

  if (Address == 0) {
    return;
  }

  Base = 0;
  Position = Address & ~(kDeadLoopSearchStep - 1);
  for (Tested = 0; Tested < kDeadLoopSearchWindow / kDeadLoopSearchStep; Tested++) {
    if (Position == 0) {
      break;
    }
    if (*(volatile CONST UINT16 *)Position == kDosSignature) {
      Base = Position;
      break;
    }
    Position -= kDeadLoopSearchStep;
  }

  if (Base == 0) {
    DEBUG((DEBUG_DEAD_LOOP_REPORT, "Cannot find Module base address...\n"));
    return;
  }

  // The report's fields are 32 bits wide ("%x"), as the listener reads them.
  ZeroMem(Name, sizeof(Name));
  if (!EFI_ERROR(GetModuleNameFromPdb((VOID *)Base, Name, sizeof(Name)))) {
    DEBUG((DEBUG_DEAD_LOOP_REPORT, "Module[%a], 0x%x:0x%x\n", Name, (UINT32)Base, (UINT32)(Address - Base)));
  } else {
    DEBUG(
        (DEBUG_DEAD_LOOP_REPORT, "Module[%g], 0x%x:0x%x\n", &gEfiCallerIdGuid, (UINT32)Base, (UINT32)(Address - Base)));
  }
}

VOID CpuDeadLoop(VOID) {
  UINTN Caller = ArchReturnAddress();
  volatile UINT64 Spin;

  DEBUG((DEBUG_DEAD_LOOP_REPORT, "CpuDeadLoop, Caller address: 0x%x\n", (UINT32)Caller));
  ReportCallerModule(Caller);

  Spin = 0;
  while (ArchSpinRead(&Spin) == 0) {
  }
}
