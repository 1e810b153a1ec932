#include "SsvsHandler.h"

#include <Arch.h>
#include <VariableRequestLayout.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/MmServicesTableLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Protocol/MmCpu.h>
#include <Protocol/SmmAccess2.h>
#include <Protocol/SmmReadyToLock.h>
#include <Protocol/SmmSwDispatch2.h>
#include <Protocol/SmmVariable.h>

#include "SsvsPacket.h"

SSVS_HANDLER_STATISTICS mSsvsStatistics;

// Everything below lives in MMRAM with the image; nothing the handler keeps points outside.
static EFI_MM_CPU_PROTOCOL *mMmCpu = NULL;
static EFI_SMM_VARIABLE_PROTOCOL *mSmmVariable = NULL;
// Where no packet may lie: MMRAM, and from ready-to-lock on also the memory the SMM core
// may unmap (the array is replaced then, MMRAM's ranges first).
static SSVS_MEMORY_RANGE *mSmramRanges = NULL;
static UINTN mSmramRangeCount = 0;
static UINTN mMmramRangeCount = 0;
static VOID *mReadyToLockRegistration = NULL;
static UINT8 *mPacketCopy = NULL;
static EFI_HANDLE mDispatchHandle = NULL;

static BOOLEAN ReadRegister(UINTN CpuIndex, EFI_MM_SAVE_STATE_REGISTER Register, UINT64 *Value) {
  *Value = 0;
  return EFI_ERROR(mMmCpu->ReadSaveState(mMmCpu, sizeof(UINT64), Register, CpuIndex, Value)) ? FALSE : TRUE;
}

static BOOLEAN CommandValueInAl(UINTN CpuIndex) {
  UINT64 Rax;
  return ReadRegister(CpuIndex, EFI_MM_SAVE_STATE_REGISTER_RAX, &Rax) && (UINT8)Rax == SMI_VARIABLE_COMMAND_VALUE;
}

// The CPU that wrote the command port. Its save state names the I/O instruction where the
// processor keeps it; QEMU's does not, and there the CPU running the handlers (the writer
// when the SMI is raised synchronously) is taken if its AL holds the command value, else
// the first CPU whose AL does.
static BOOLEAN FindCallingCpu(UINTN *CpuIndex) {
  EFI_MM_SAVE_STATE_IO_INFO Io;
  UINTN Index;

  for (Index = 0; Index < gMmst->NumberOfCpus; Index++) {
    ZeroMem(&Io, sizeof(Io));
    if (!EFI_ERROR(mMmCpu->ReadSaveState(mMmCpu, sizeof(Io), EFI_MM_SAVE_STATE_REGISTER_IO, Index, &Io)) &&
        Io.IoType == EFI_MM_SAVE_STATE_IO_TYPE_OUTPUT && Io.IoPort == SMI_VARIABLE_COMMAND_PORT &&
        Io.IoWidth == EFI_MM_SAVE_STATE_IO_WIDTH_UINT8 && (UINT8)Io.IoData == SMI_VARIABLE_COMMAND_VALUE) {
      *CpuIndex = Index;
      return TRUE;
    }
  }
  if (gMmst->CurrentlyExecutingCpu < gMmst->NumberOfCpus && CommandValueInAl(gMmst->CurrentlyExecutingCpu)) {
    *CpuIndex = gMmst->CurrentlyExecutingCpu;
    return TRUE;
  }
  for (Index = 0; Index < gMmst->NumberOfCpus; Index++) {
    if (CommandValueInAl(Index)) {
      *CpuIndex = Index;
      return TRUE;
    }
  }
  return FALSE;
}

static VOID PublishStatistics(VOID) {
  // A failure here changes nothing of the write just answered; the next SMI tries again.
  mSmmVariable->SmmSetVariable(SSVS_HANDLER_STATISTICS_NAME, &gSsvsHandlerStatisticsGuid,
                               SSVS_HANDLER_STATISTICS_ATTRIBUTES, sizeof(mSsvsStatistics), &mSsvsStatistics);
}

static VOID CountRefused(VOID) {
  mSsvsStatistics.Refused++;
  PublishStatistics();
}

// One packet named by the save state of CpuIndex. The status goes back into the caller's
// packet, the one write outside MMRAM, and only where that field lies clear of MMRAM.
static VOID ServeCpu(UINTN CpuIndex) {
  UINT64 Rax;
  UINT64 Rbx;
  UINT64 Rsi;
  EFI_STATUS Status;
  SSVS_VARIABLE_WRITE Write;
  BOOLEAN Served = FALSE;

  if (!ReadRegister(CpuIndex, EFI_MM_SAVE_STATE_REGISTER_RAX, &Rax) ||
      !ReadRegister(CpuIndex, EFI_MM_SAVE_STATE_REGISTER_RBX, &Rbx) ||
      !ReadRegister(CpuIndex, EFI_MM_SAVE_STATE_REGISTER_RSI, &Rsi)) {
    CountRefused();
    return;
  }
  // Another service on the same command value: its registers mean something else, so the
  // bytes at RSI are not touched at all.
  if ((UINT8)(Rax >> 8) != SMI_VARIABLE_SERVICE_AH) {
    CountRefused();
    return;
  }

  Status = SsvsCapturePacket(Rsi, Rbx, mSmramRanges, mSmramRangeCount, mPacketCopy, SSVS_MAX_PACKET_SIZE);
  if (!EFI_ERROR(Status)) {
    Status = SsvsParsePacket(mPacketCopy, (UINTN)Rbx, &Write);
  }
  if (!EFI_ERROR(Status)) {
    Status = mSmmVariable->SmmSetVariable(Write.Name, &Write.VendorGuid, Write.Attributes, Write.DataSize,
                                          (VOID *)Write.Data);
    Served = TRUE;
  }
  // The data may be a secret of the caller's: nothing of it stays in the buffer.
  ZeroMem(mPacketCopy, Rbx < SSVS_MAX_PACKET_SIZE ? (UINTN)Rbx : SSVS_MAX_PACKET_SIZE);

  if (SsvsStatusWritable(Rsi, Rbx, mSmramRanges, mSmramRangeCount)) {
    CopyMem((VOID *)(UINTN)(Rsi + OFFSET_OF(SMI_VARIABLE_PACKET_HEADER, Status)), &Status, sizeof(Status));
  }
  if (Served) {
    mSsvsStatistics.Served++;
    PublishStatistics();
  } else {
    CountRefused();
  }
}

// Root MMI handler: every MMI comes here; only the command value on the APM control port
// makes it ours.
static EFI_STATUS EFIAPI SsvsRootMmiHandler(EFI_HANDLE DispatchHandle, CONST VOID *Context, VOID *CommBuffer,
                                            UINTN *CommBufferSize) {
  UINTN CpuIndex;

  if (ArchIoRead8(SMI_VARIABLE_COMMAND_PORT) != SMI_VARIABLE_COMMAND_VALUE) {
    return EFI_WARN_INTERRUPT_SOURCE_QUIESCED;
  }
  if (!FindCallingCpu(&CpuIndex)) {
    CountRefused();
    return EFI_SUCCESS;
  }
  ServeCpu(CpuIndex);
  return EFI_SUCCESS;
}

// Child of the platform's software-SMI dispatcher, which names the writing CPU in the
// EFI_SMM_SW_CONTEXT it passes as CommBuffer.
static EFI_STATUS EFIAPI SsvsSwDispatchHandler(EFI_HANDLE DispatchHandle, CONST VOID *Context, VOID *CommBuffer,
                                               UINTN *CommBufferSize) {
  EFI_SMM_SW_CONTEXT SwContext;

  if (CommBuffer == NULL || CommBufferSize == NULL || *CommBufferSize < sizeof(SwContext)) {
    CountRefused();
    return EFI_SUCCESS;
  }
  CopyMem(&SwContext, CommBuffer, sizeof(SwContext));
  if (SwContext.SwSmiCpuIndex >= gMmst->NumberOfCpus) {
    CountRefused();
    return EFI_SUCCESS;
  }
  ServeCpu(SwContext.SwSmiCpuIndex);
  return EFI_SUCCESS;
}

// MMRAM as the memory controller describes it, kept in MMRAM.
static EFI_STATUS CollectSmramRanges(VOID) {
  EFI_SMM_ACCESS2_PROTOCOL *SmmAccess = NULL;
  EFI_MMRAM_DESCRIPTOR *Descriptors = NULL;
  UINTN MapSize = 0;
  UINTN Count;
  UINTN Index;
  EFI_STATUS Status;

  Status = LocateProtocolOf(&SmmAccess);
  if (EFI_ERROR(Status) || SmmAccess == NULL) {
    return EFI_NOT_FOUND;
  }
  Status = SmmAccess->GetCapabilities(SmmAccess, &MapSize, NULL);
  if (Status != EFI_BUFFER_TOO_SMALL || MapSize == 0 || (MapSize % sizeof(EFI_MMRAM_DESCRIPTOR)) != 0) {
    return EFI_NOT_FOUND;
  }
  Count = MapSize / sizeof(EFI_MMRAM_DESCRIPTOR);
  Status = gMmst->MmAllocatePool(EfiRuntimeServicesData, MapSize, (VOID **)&Descriptors);
  if (EFI_ERROR(Status) || Descriptors == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }
  Status = SmmAccess->GetCapabilities(SmmAccess, &MapSize, Descriptors);
  if (EFI_ERROR(Status) || MapSize != Count * sizeof(EFI_MMRAM_DESCRIPTOR)) {
    gMmst->MmFreePool(Descriptors);
    return EFI_NOT_FOUND;
  }
  // Each descriptor becomes the range the processors see; the array is reused in place,
  // as a range is smaller than a descriptor.
  static_assert(sizeof(SSVS_MEMORY_RANGE) <= sizeof(EFI_MMRAM_DESCRIPTOR), "ranges reuse the descriptors");
  mSmramRanges = (SSVS_MEMORY_RANGE *)Descriptors;
  for (Index = 0; Index < Count; Index++) {
    SSVS_MEMORY_RANGE Range = {Descriptors[Index].CpuStart, Descriptors[Index].PhysicalSize};
    mSmramRanges[Index] = Range;
  }
  mSmramRangeCount = Count;
  return EFI_SUCCESS;
}

// The memory types an EDK II SMM core marks not-present in its page tables once SMRAM is
// locked (PiSmmCpuDxeSmm with restricted memory access): a packet there would fault in SMM,
// so it is refused like MMRAM instead of read.
static BOOLEAN UnmappedAfterLock(UINT32 Type) {
  switch (Type) {
    case EfiLoaderCode:
    case EfiLoaderData:
    case EfiBootServicesCode:
    case EfiBootServicesData:
    case EfiConventionalMemory:
    case EfiUnusableMemory:
    case EfiACPIReclaimMemory:
      return TRUE;
    default:
      return FALSE;
  }
}

// Runs in SMM while DXE signals ready-to-lock, when the boot services still answer: the
// memory map of that moment is the one the SMM core protects by.
static EFI_STATUS EFIAPI SsvsReadyToLockNotify(CONST EFI_GUID *Protocol, VOID *Interface, EFI_HANDLE Handle) {
  UINTN MapSize = 0;
  UINTN MapKey;
  UINTN DescriptorSize = 0;
  UINT32 DescriptorVersion;
  UINT8 *Map = NULL;
  SSVS_MEMORY_RANGE *Ranges = NULL;
  UINTN Count;
  UINTN Offset;
  EFI_STATUS Status;

  if (gBS == NULL ||
      gBS->GetMemoryMap(&MapSize, NULL, &MapKey, &DescriptorSize, &DescriptorVersion) != EFI_BUFFER_TOO_SMALL) {
    return EFI_SUCCESS;
  }
  // Room for the descriptors the allocation itself may add.
  MapSize += 4 * DescriptorSize;
  if (EFI_ERROR(gMmst->MmAllocatePool(EfiRuntimeServicesData, MapSize, (VOID **)&Map)) || Map == NULL) {
    return EFI_SUCCESS;
  }
  Status = gBS->GetMemoryMap(&MapSize, (EFI_MEMORY_DESCRIPTOR *)Map, &MapKey, &DescriptorSize, &DescriptorVersion);
  if (EFI_ERROR(Status) || DescriptorSize < sizeof(EFI_MEMORY_DESCRIPTOR)) {
    gMmst->MmFreePool(Map);
    return EFI_SUCCESS;
  }
  Count = mMmramRangeCount;
  for (Offset = 0; Offset + DescriptorSize <= MapSize; Offset += DescriptorSize) {
    if (UnmappedAfterLock(((EFI_MEMORY_DESCRIPTOR *)(Map + Offset))->Type)) {
      Count++;
    }
  }
  if (EFI_ERROR(gMmst->MmAllocatePool(EfiRuntimeServicesData, Count * sizeof(SSVS_MEMORY_RANGE), (VOID **)&Ranges)) ||
      Ranges == NULL) {
    gMmst->MmFreePool(Map);
    return EFI_SUCCESS;
  }
  CopyMem(Ranges, mSmramRanges, mMmramRangeCount * sizeof(SSVS_MEMORY_RANGE));
  Count = mMmramRangeCount;
  for (Offset = 0; Offset + DescriptorSize <= MapSize; Offset += DescriptorSize) {
    EFI_MEMORY_DESCRIPTOR *Descriptor = (EFI_MEMORY_DESCRIPTOR *)(Map + Offset);
    if (UnmappedAfterLock(Descriptor->Type)) {
      // A page count past the address space makes the range cover the rest of it.
      Ranges[Count].Base = Descriptor->PhysicalStart;
      Ranges[Count].Size = Descriptor->NumberOfPages > (MAX_UINTN >> 12) ? MAX_UINTN : Descriptor->NumberOfPages << 12;
      Count++;
    }
  }
  gMmst->MmFreePool(Map);
  gMmst->MmFreePool(mSmramRanges);
  mSmramRanges = Ranges;
  mSmramRangeCount = Count;
  return EFI_SUCCESS;
}

EFI_STATUS SsvsHandlerStart(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_SMM_SW_DISPATCH2_PROTOCOL *SwDispatch = NULL;
  EFI_SMM_SW_REGISTER_CONTEXT SwRegister;
  EFI_STATUS Status;

  if (gMmst == NULL) {
    DEBUG((DEBUG_ERROR, "SsvsHandler: no MM system table\n"));
    return EFI_UNSUPPORTED;
  }
  Status = MmLocateProtocolOf(&mMmCpu);
  if (EFI_ERROR(Status) || mMmCpu == NULL) {
    DEBUG((DEBUG_ERROR, "SsvsHandler: no MM CPU protocol: %r\n", Status));
    return EFI_NOT_FOUND;
  }
  Status = MmLocateProtocolOf(&mSmmVariable);
  if (EFI_ERROR(Status) || mSmmVariable == NULL) {
    DEBUG((DEBUG_ERROR, "SsvsHandler: no SMM variable protocol: %r\n", Status));
    return EFI_NOT_FOUND;
  }
  // Without MMRAM's bounds no packet could be proven harmless: no handler at all.
  Status = CollectSmramRanges();
  if (EFI_ERROR(Status)) {
    DEBUG((DEBUG_ERROR, "SsvsHandler: MMRAM ranges unknown: %r\n", Status));
    return Status;
  }
  Status = gMmst->MmAllocatePool(EfiRuntimeServicesData, SSVS_MAX_PACKET_SIZE, (VOID **)&mPacketCopy);
  if (EFI_ERROR(Status) || mPacketCopy == NULL) {
    gMmst->MmFreePool(mSmramRanges);
    mSmramRanges = NULL;
    mSmramRangeCount = 0;
    return EFI_OUT_OF_RESOURCES;
  }
  ZeroMem(mPacketCopy, SSVS_MAX_PACKET_SIZE);
  mMmramRangeCount = mSmramRangeCount;

  if (!EFI_ERROR(MmLocateProtocolOf(&SwDispatch)) && SwDispatch != NULL) {
    SwRegister.SwSmiInputValue = SMI_VARIABLE_COMMAND_VALUE;
    Status = SwDispatch->Register(SwDispatch, SsvsSwDispatchHandler, &SwRegister, &mDispatchHandle);
  } else {
    Status = gMmst->MmiHandlerRegister(SsvsRootMmiHandler, NULL, &mDispatchHandle);
  }
  if (EFI_ERROR(Status)) {
    DEBUG((DEBUG_ERROR, "SsvsHandler: registration failed: %r\n", Status));
    gMmst->MmFreePool(mPacketCopy);
    gMmst->MmFreePool(mSmramRanges);
    mPacketCopy = NULL;
    mSmramRanges = NULL;
    mSmramRangeCount = 0;
    return Status;
  }
  // Last, so that a failed start leaves no notification behind. Without it the handler still
  // keeps to MMRAM; it only cannot tell which ordinary memory the SMM core unmaps later.
  Status = gMmst->MmRegisterProtocolNotify(&gEfiSmmReadyToLockProtocolGuid, SsvsReadyToLockNotify,
                                           &mReadyToLockRegistration);
  if (EFI_ERROR(Status)) {
    DEBUG((DEBUG_ERROR, "SsvsHandler: no ready-to-lock notification: %r\n", Status));
  }
  DEBUG((DEBUG_INFO, "SsvsHandler: serving software SMI 0x%x with %u MMRAM ranges\n", SMI_VARIABLE_COMMAND_VALUE,
         (UINT32)mSmramRangeCount));
  return EFI_SUCCESS;
}
