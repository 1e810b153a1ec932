// PI's MM CPU protocol: the saved registers of each processor in MM, by architectural
// register number. EFI_SMM_CPU_PROTOCOL is the same protocol under its SMM name.
#pragma once
#include "../Pi/PiMmCis.h"

inline constexpr EFI_GUID gEfiMmCpuProtocolGuid = {
    0xEB346B97, 0x975F, 0x4A9F, {0x8B, 0x22, 0xF8, 0xE9, 0x2B, 0xB3, 0xD5, 0x69}};
inline constexpr const EFI_GUID &gEfiSmmCpuProtocolGuid = gEfiMmCpuProtocolGuid;

// The registers a handler reads here, with PI's numbers; the enumeration is open, a
// producer answers EFI_NOT_FOUND for a register it does not keep.
typedef enum {
  EFI_MM_SAVE_STATE_REGISTER_RAX = 38,
  EFI_MM_SAVE_STATE_REGISTER_RBX = 39,
  EFI_MM_SAVE_STATE_REGISTER_RCX = 40,
  EFI_MM_SAVE_STATE_REGISTER_RDX = 41,
  EFI_MM_SAVE_STATE_REGISTER_RSP = 42,
  EFI_MM_SAVE_STATE_REGISTER_RBP = 43,
  EFI_MM_SAVE_STATE_REGISTER_RSI = 44,
  EFI_MM_SAVE_STATE_REGISTER_RDI = 45,
  EFI_MM_SAVE_STATE_REGISTER_RIP = 46,
  // The I/O instruction that raised the MMI, as EFI_MM_SAVE_STATE_IO_INFO.
  EFI_MM_SAVE_STATE_REGISTER_IO = 512,
  EFI_MM_SAVE_STATE_REGISTER_LMA = 513,
  EFI_MM_SAVE_STATE_REGISTER_PROCESSOR_ID = 514,
} EFI_MM_SAVE_STATE_REGISTER;
static_assert(sizeof(EFI_MM_SAVE_STATE_REGISTER) == 4, "enum width");

typedef enum {
  EFI_MM_SAVE_STATE_IO_WIDTH_UINT8 = 0,
  EFI_MM_SAVE_STATE_IO_WIDTH_UINT16 = 1,
  EFI_MM_SAVE_STATE_IO_WIDTH_UINT32 = 2,
  EFI_MM_SAVE_STATE_IO_WIDTH_UINT64 = 3,
} EFI_MM_SAVE_STATE_IO_WIDTH;

typedef enum {
  EFI_MM_SAVE_STATE_IO_TYPE_INPUT = 1,
  EFI_MM_SAVE_STATE_IO_TYPE_OUTPUT = 2,
  EFI_MM_SAVE_STATE_IO_TYPE_STRING = 4,
  EFI_MM_SAVE_STATE_IO_TYPE_REP_PREFIX = 8,
} EFI_MM_SAVE_STATE_IO_TYPE;

struct EFI_MM_SAVE_STATE_IO_INFO {
  UINT64 IoData;
  UINT16 IoPort;
  EFI_MM_SAVE_STATE_IO_WIDTH IoWidth;
  EFI_MM_SAVE_STATE_IO_TYPE IoType;
};
static_assert(sizeof(EFI_MM_SAVE_STATE_IO_INFO) == 24, "MM save-state I/O layout");
static_assert(OFFSET_OF(EFI_MM_SAVE_STATE_IO_INFO, IoPort) == 8, "MM save-state I/O layout");
static_assert(OFFSET_OF(EFI_MM_SAVE_STATE_IO_INFO, IoWidth) == 12, "MM save-state I/O layout");
static_assert(OFFSET_OF(EFI_MM_SAVE_STATE_IO_INFO, IoType) == 16, "MM save-state I/O layout");

struct EFI_MM_CPU_PROTOCOL {
  EFI_STATUS(EFIAPI *ReadSaveState)
  (CONST EFI_MM_CPU_PROTOCOL *This, UINTN Width, EFI_MM_SAVE_STATE_REGISTER Register, UINTN CpuIndex, VOID *Buffer);
  EFI_STATUS(EFIAPI *WriteSaveState)
  (CONST EFI_MM_CPU_PROTOCOL *This, UINTN Width, EFI_MM_SAVE_STATE_REGISTER Register, UINTN CpuIndex,
   CONST VOID *Buffer);
};
typedef EFI_MM_CPU_PROTOCOL EFI_SMM_CPU_PROTOCOL;
static_assert(sizeof(EFI_MM_CPU_PROTOCOL) == 16, "MM CPU layout");
EFI_PROTOCOL_GUID(EFI_MM_CPU_PROTOCOL, gEfiMmCpuProtocolGuid);
