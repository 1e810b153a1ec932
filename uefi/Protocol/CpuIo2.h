// PI CPU I/O 2: memory and I/O port access through the CPU, produced by the platform's
// CpuIo2 driver.
#pragma once
#include "../SystemTable.h"

inline constexpr EFI_GUID gEfiCpuIo2ProtocolGuid = {
    0xAD61F191, 0xAE5F, 0x4C0E, {0xB9, 0xFA, 0xE8, 0x69, 0xD2, 0x88, 0xC6, 0x4F}};

// Width of one access; the FIFO widths repeat the access at the same address Count times.
typedef enum {
  EfiCpuIoWidthUint8,
  EfiCpuIoWidthUint16,
  EfiCpuIoWidthUint32,
  EfiCpuIoWidthUint64,
  EfiCpuIoWidthFifoUint8,
  EfiCpuIoWidthFifoUint16,
  EfiCpuIoWidthFifoUint32,
  EfiCpuIoWidthFifoUint64,
} EFI_CPU_IO_PROTOCOL_WIDTH;

struct EFI_CPU_IO2_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_CPU_IO_PROTOCOL_IO_MEM)(EFI_CPU_IO2_PROTOCOL *This, EFI_CPU_IO_PROTOCOL_WIDTH Width,
                                                       UINT64 Address, UINTN Count, VOID *Buffer);

struct EFI_CPU_IO_PROTOCOL_ACCESS {
  EFI_CPU_IO_PROTOCOL_IO_MEM Read;
  EFI_CPU_IO_PROTOCOL_IO_MEM Write;
};

struct EFI_CPU_IO2_PROTOCOL {
  EFI_CPU_IO_PROTOCOL_ACCESS Mem;
  EFI_CPU_IO_PROTOCOL_ACCESS Io;
};
static_assert(OFFSET_OF(EFI_CPU_IO2_PROTOCOL, Io) == 16, "CPU I/O 2 layout");
EFI_PROTOCOL_GUID(EFI_CPU_IO2_PROTOCOL, gEfiCpuIo2ProtocolGuid);
