// The x64 image's side of the arch seam, and the memory routines the compiler itself
// calls (structure copies and clears) since no C runtime is linked into an image.
#include <Arch.h>

VOID ArchSoftwareSmi(UINT16 Port, UINT8 Value, UINT8 Ah, UINT64 Rbx, UINT64 Rsi) {
  // AH is the upper half of AX: both go out in the one register the OUT instruction
  // reads, so the handler finds the command in AL and its sub-function in AH.
  UINT16 Ax = (UINT16)(((UINT16)Ah << 8) | Value);
  // The handler may write results into the saved registers; they are outputs too so
  // the compiler never assumes they survived the trap.
  __asm__ __volatile__("outb %%al, %%dx" : "+a"(Ax), "+b"(Rbx), "+S"(Rsi) : "d"(Port) : "memory");
}

VOID ArchBreakpoint(VOID) { __asm__ __volatile__("int3" ::: "memory"); }

UINT64 ArchSpinRead(volatile UINT64 *Flag) { return *Flag; }

UINT8 ArchIoRead8(UINT16 Port) {
  UINT8 Value;
  __asm__ __volatile__("inb %%dx, %%al" : "=a"(Value) : "d"(Port) : "memory");
  return Value;
}

VOID ArchIoWrite8(UINT16 Port, UINT8 Value) {
  __asm__ __volatile__("outb %%al, %%dx" : : "a"(Value), "d"(Port) : "memory");
}

// no_builtin keeps the optimiser from recognising these loops as the very calls they
// implement, which would make each routine call itself.
extern "C" {

__attribute__((no_builtin)) VOID *memcpy(VOID *Destination, CONST VOID *Source, size_t Length) {
  UINT8 *To = (UINT8 *)Destination;
  CONST UINT8 *From = (CONST UINT8 *)Source;
  for (size_t Index = 0; Index < Length; Index++) {
    To[Index] = From[Index];
  }
  return Destination;
}

__attribute__((no_builtin)) VOID *memmove(VOID *Destination, CONST VOID *Source, size_t Length) {
  UINT8 *To = (UINT8 *)Destination;
  CONST UINT8 *From = (CONST UINT8 *)Source;
  if ((UINTN)To <= (UINTN)From || (UINTN)To >= (UINTN)From + Length) {
    for (size_t Index = 0; Index < Length; Index++) {
      To[Index] = From[Index];
    }
  } else {
    // Overlap with the destination above the source: copy from the top down.
    for (size_t Index = Length; Index > 0; Index--) {
      To[Index - 1] = From[Index - 1];
    }
  }
  return Destination;
}

__attribute__((no_builtin)) VOID *memset(VOID *Buffer, int Value, size_t Length) {
  UINT8 *To = (UINT8 *)Buffer;
  for (size_t Index = 0; Index < Length; Index++) {
    To[Index] = (UINT8)Value;
  }
  return Buffer;
}

__attribute__((no_builtin)) int memcmp(CONST VOID *First, CONST VOID *Second, size_t Length) {
  CONST UINT8 *Left = (CONST UINT8 *)First;
  CONST UINT8 *Right = (CONST UINT8 *)Second;
  for (size_t Index = 0; Index < Length; Index++) {
    if (Left[Index] != Right[Index]) {
      return (int)Left[Index] - (int)Right[Index];
    }
  }
  return 0;
}

}  // extern "C"
