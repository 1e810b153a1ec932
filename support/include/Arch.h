// The only code that differs between the PE32+ image and the host build.
#pragma once
#include <Uefi.h>

// Writes Value to the I/O port with AH, RBX and RSI loaded as the software-SMI handler
// expects them at the moment of the write.
VOID ArchSoftwareSmi(UINT16 Port, UINT8 Value, UINT8 Ah, UINT64 Rbx, UINT64 Rsi);
// One breakpoint instruction.
VOID ArchBreakpoint(VOID);
// Reads the flag afresh on every call, so a debugger's write is seen.
UINT64 ArchSpinRead(volatile UINT64 *Flag);
// One byte from and to an I/O port (a system interface's registers).
UINT8 ArchIoRead8(UINT16 Port);
VOID ArchIoWrite8(UINT16 Port, UINT8 Value);

// The address at which the caller of the function using it resumes.
#define ArchReturnAddress() ((UINTN)__builtin_return_address(0))

// On the host the simulator answers the port accesses and the breakpoint; the image
// exports this table so the loader can reach it.
struct ARCH_HOST_HOOKS {
  VOID (*SoftwareSmi)(UINT16 Port, UINT8 Value, UINT8 Ah, UINT64 Rbx, UINT64 Rsi);
  VOID (*Breakpoint)(VOID);
  // Called on every spin read with the flag's address: a test plays the debugger here.
  VOID (*SpinRead)(volatile UINT64 *Flag);
  // Port reads and writes reach the simulated devices.
  UINT8 (*IoRead8)(UINT16 Port);
  VOID (*IoWrite8)(UINT16 Port, UINT8 Value);
};
extern "C" IMAGE_EXPORT ARCH_HOST_HOOKS gArchHostHooks;
