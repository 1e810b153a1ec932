// The Management Mode system table (PI volume 4) that a Traditional MM driver reaches
// through the SMM base protocol, with the MMI handler types and the MMRAM descriptor.
// EFI_SMM_SYSTEM_TABLE2 is the same table under its SMM name.
#pragma once
#include "../SystemTable.h"

// PI's interrupt-source statuses: warnings and errors with bit 61 set beside the usual ones.
#define PI_ENCODE_WARNING(Code) ((EFI_STATUS)((MAX_BIT >> 2) | (Code)))
#define PI_ENCODE_ERROR(Code) ((EFI_STATUS)(MAX_BIT | (MAX_BIT >> 2) | (Code)))
#define EFI_INTERRUPT_PENDING PI_ENCODE_ERROR(0)
#define EFI_WARN_INTERRUPT_SOURCE_PENDING PI_ENCODE_WARNING(0)
#define EFI_WARN_INTERRUPT_SOURCE_QUIESCED PI_ENCODE_WARNING(1)
static_assert(EFI_WARN_INTERRUPT_SOURCE_QUIESCED == 0x2000000000000001ULL, "PI warning encoding");
static_assert(EFI_INTERRUPT_PENDING == 0xA000000000000000ULL, "PI error encoding");

#define MM_MMST_SIGNATURE 0x54534D53U  // "SMST"

struct EFI_MM_SYSTEM_TABLE;

// I/O through the MM CPU: one access of Width (0: 8 bits ... 3: 64 bits) Count times.
typedef enum { MM_IO_UINT8 = 0, MM_IO_UINT16 = 1, MM_IO_UINT32 = 2, MM_IO_UINT64 = 3 } EFI_MM_IO_WIDTH;
static_assert(sizeof(EFI_MM_IO_WIDTH) == 4, "enum width");

struct EFI_MM_CPU_IO_PROTOCOL;
typedef EFI_STATUS(EFIAPI *EFI_MM_CPU_IO)(CONST EFI_MM_CPU_IO_PROTOCOL *This, EFI_MM_IO_WIDTH Width, UINT64 Address,
                                          UINTN Count, VOID *Buffer);
struct EFI_MM_IO_ACCESS {
  EFI_MM_CPU_IO Read;
  EFI_MM_CPU_IO Write;
};
struct EFI_MM_CPU_IO_PROTOCOL {
  EFI_MM_IO_ACCESS Mem;
  EFI_MM_IO_ACCESS Io;
};
static_assert(sizeof(EFI_MM_CPU_IO_PROTOCOL) == 32, "MM CPU I/O layout");
static_assert(OFFSET_OF(EFI_MM_CPU_IO_PROTOCOL, Io) == 16, "MM CPU I/O layout");

typedef VOID(EFIAPI *EFI_AP_PROCEDURE)(VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_MM_STARTUP_THIS_AP)(EFI_AP_PROCEDURE Procedure, UINTN CpuNumber, VOID *ProcArguments);
typedef EFI_STATUS(EFIAPI *EFI_MM_NOTIFY_FN)(CONST EFI_GUID *Protocol, VOID *Interface, EFI_HANDLE Handle);

// A root handler (registered with HandlerType NULL) runs on every MMI with a NULL Context
// and decides for itself whether the interrupt is its own.
typedef EFI_STATUS(EFIAPI *EFI_MM_HANDLER_ENTRY_POINT)(EFI_HANDLE DispatchHandle, CONST VOID *Context, VOID *CommBuffer,
                                                       UINTN *CommBufferSize);
typedef EFI_MM_HANDLER_ENTRY_POINT EFI_SMM_HANDLER_ENTRY_POINT2;

// What the MM foundation hands the core on each entry; the table repeats its fields.
struct EFI_MM_ENTRY_CONTEXT {
  EFI_MM_STARTUP_THIS_AP MmStartupThisAp;
  UINTN CurrentlyExecutingCpu;
  UINTN NumberOfCpus;
  UINTN *CpuSaveStateSize;
  VOID **CpuSaveState;
};
static_assert(sizeof(EFI_MM_ENTRY_CONTEXT) == 40, "MM entry context layout");

struct EFI_MM_SYSTEM_TABLE {
  EFI_TABLE_HEADER Hdr;
  CHAR16 *MmFirmwareVendor;
  UINT32 MmFirmwareRevision;
  EFI_STATUS(EFIAPI *MmInstallConfigurationTable)
  (CONST EFI_MM_SYSTEM_TABLE *SystemTable, CONST EFI_GUID *Guid, VOID *Table, UINTN TableSize);
  EFI_MM_CPU_IO_PROTOCOL MmIo;
  // Pool and pages from MMRAM.
  EFI_STATUS(EFIAPI *MmAllocatePool)(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer);
  EFI_STATUS(EFIAPI *MmFreePool)(VOID *Buffer);
  EFI_STATUS(EFIAPI *MmAllocatePages)
  (EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages, EFI_PHYSICAL_ADDRESS *Memory);
  EFI_STATUS(EFIAPI *MmFreePages)(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages);
  EFI_MM_STARTUP_THIS_AP MmStartupThisAp;
  // Valid while an MMI is being handled.
  UINTN CurrentlyExecutingCpu;
  UINTN NumberOfCpus;
  UINTN *CpuSaveStateSize;
  VOID **CpuSaveState;
  UINTN NumberOfTableEntries;
  EFI_CONFIGURATION_TABLE *MmConfigurationTable;
  EFI_STATUS(EFIAPI *MmInstallProtocolInterface)
  (EFI_HANDLE *Handle, CONST EFI_GUID *Protocol, EFI_INTERFACE_TYPE InterfaceType, VOID *Interface);
  EFI_STATUS(EFIAPI *MmUninstallProtocolInterface)(EFI_HANDLE Handle, CONST EFI_GUID *Protocol, VOID *Interface);
  EFI_STATUS(EFIAPI *MmHandleProtocol)(EFI_HANDLE Handle, CONST EFI_GUID *Protocol, VOID **Interface);
  EFI_STATUS(EFIAPI *MmRegisterProtocolNotify)
  (CONST EFI_GUID *Protocol, EFI_MM_NOTIFY_FN Function, VOID **Registration);
  EFI_STATUS(EFIAPI *MmLocateHandle)
  (EFI_LOCATE_SEARCH_TYPE SearchType, CONST EFI_GUID *Protocol, VOID *SearchKey, UINTN *BufferSize, EFI_HANDLE *Buffer);
  EFI_STATUS(EFIAPI *MmLocateProtocol)(CONST EFI_GUID *Protocol, VOID *Registration, VOID **Interface);
  EFI_STATUS(EFIAPI *MmiManage)
  (CONST EFI_GUID *HandlerType, CONST VOID *Context, VOID *CommBuffer, UINTN *CommBufferSize);
  EFI_STATUS(EFIAPI *MmiHandlerRegister)
  (EFI_MM_HANDLER_ENTRY_POINT Handler, CONST EFI_GUID *HandlerType, EFI_HANDLE *DispatchHandle);
  EFI_STATUS(EFIAPI *MmiHandlerUnRegister)(EFI_HANDLE DispatchHandle);
};
typedef EFI_MM_SYSTEM_TABLE EFI_SMM_SYSTEM_TABLE2;
static_assert(sizeof(EFI_MM_SYSTEM_TABLE) == 240, "MM system table layout");
static_assert(OFFSET_OF(EFI_MM_SYSTEM_TABLE, MmFirmwareRevision) == 32, "MM system table layout");
static_assert(OFFSET_OF(EFI_MM_SYSTEM_TABLE, MmInstallConfigurationTable) == 40, "MM system table layout");
static_assert(OFFSET_OF(EFI_MM_SYSTEM_TABLE, MmIo) == 48, "MM system table layout");
static_assert(OFFSET_OF(EFI_MM_SYSTEM_TABLE, MmAllocatePool) == 80, "MM system table layout");
static_assert(OFFSET_OF(EFI_MM_SYSTEM_TABLE, MmStartupThisAp) == 112, "MM system table layout");
static_assert(OFFSET_OF(EFI_MM_SYSTEM_TABLE, CurrentlyExecutingCpu) == 120, "MM system table layout");
static_assert(OFFSET_OF(EFI_MM_SYSTEM_TABLE, NumberOfCpus) == 128, "MM system table layout");
static_assert(OFFSET_OF(EFI_MM_SYSTEM_TABLE, CpuSaveState) == 144, "MM system table layout");
static_assert(OFFSET_OF(EFI_MM_SYSTEM_TABLE, MmConfigurationTable) == 160, "MM system table layout");
static_assert(OFFSET_OF(EFI_MM_SYSTEM_TABLE, MmInstallProtocolInterface) == 168, "MM system table layout");
static_assert(OFFSET_OF(EFI_MM_SYSTEM_TABLE, MmRegisterProtocolNotify) == 192, "MM system table layout");
static_assert(OFFSET_OF(EFI_MM_SYSTEM_TABLE, MmLocateProtocol) == 208, "MM system table layout");
static_assert(OFFSET_OF(EFI_MM_SYSTEM_TABLE, MmiManage) == 216, "MM system table layout");
static_assert(OFFSET_OF(EFI_MM_SYSTEM_TABLE, MmiHandlerRegister) == 224, "MM system table layout");
static_assert(OFFSET_OF(EFI_MM_SYSTEM_TABLE, MmiHandlerUnRegister) == 232, "MM system table layout");

// One MMRAM region: where it is for the processors (CpuStart) and how large.
struct EFI_MMRAM_DESCRIPTOR {
  EFI_PHYSICAL_ADDRESS PhysicalStart;
  EFI_PHYSICAL_ADDRESS CpuStart;
  UINT64 PhysicalSize;
  UINT64 RegionState;
};
typedef EFI_MMRAM_DESCRIPTOR EFI_SMRAM_DESCRIPTOR;
static_assert(sizeof(EFI_MMRAM_DESCRIPTOR) == 32, "MMRAM descriptor layout");
static_assert(OFFSET_OF(EFI_MMRAM_DESCRIPTOR, CpuStart) == 8, "MMRAM descriptor layout");
static_assert(OFFSET_OF(EFI_MMRAM_DESCRIPTOR, PhysicalSize) == 16, "MMRAM descriptor layout");

#define EFI_MMRAM_OPEN 0x00000001ULL
#define EFI_MMRAM_CLOSED 0x00000002ULL
#define EFI_MMRAM_LOCKED 0x00000004ULL
#define EFI_ALLOCATED 0x00000010ULL
