#include "MmPlatform.h"

#include <VariableRequestLayout.h>

#include <cstring>
#include <tuple>

namespace sim {

namespace {
MmPlatform *gLive = nullptr;
constexpr size_t kPoolAlignment = 16;
}  // namespace

// The trampolines each table and protocol member points at.
struct MmServices {
  static MmPlatform *Live(const char *Service) {
    if (gLive == nullptr) {
      Fail(Severity::Unsafe, std::string("MM service ") + Service + " called with no MM platform");
    }
    return gLive;
  }

  static EFI_STATUS EFIAPI GetSmstLocation(CONST EFI_SMM_BASE2_PROTOCOL *This, EFI_SMM_SYSTEM_TABLE2 **Smst) {
    MmPlatform *Mm = Live("GetSmstLocation");
    if (Mm == nullptr || Smst == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    *Smst = &Mm->Mmst;
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI InSmm(CONST EFI_SMM_BASE2_PROTOCOL *This, BOOLEAN *InSmram) {
    if (InSmram == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    *InSmram = TRUE;
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI GetCapabilities(CONST EFI_SMM_ACCESS2_PROTOCOL *This, UINTN *MapSize,
                                           EFI_MMRAM_DESCRIPTOR *Map) {
    MmPlatform *Mm = Live("SmmAccess2.GetCapabilities");
    if (Mm == nullptr || MapSize == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    std::vector<EFI_MMRAM_DESCRIPTOR> All;
    UINT64 Base = reinterpret_cast<uintptr_t>(Mm->MmramBase());
    All.push_back({Base, Base, Mm->MmramBytes, EFI_MMRAM_CLOSED | EFI_MMRAM_LOCKED});
    All.insert(All.end(), Mm->ExtraMmram.begin(), Mm->ExtraMmram.end());
    UINTN Needed = All.size() * sizeof(EFI_MMRAM_DESCRIPTOR);
    if (*MapSize < Needed || Map == nullptr) {
      *MapSize = Needed;
      return EFI_BUFFER_TOO_SMALL;
    }
    std::memcpy(Map, All.data(), Needed);
    *MapSize = Needed;
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI AllocatePool(EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer) {
    MmPlatform *Mm = Live("MmAllocatePool");
    if (Mm == nullptr || Buffer == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    size_t Rounded = (Size + kPoolAlignment - 1) / kPoolAlignment * kPoolAlignment;
    // The buffer's last quarter stays free for tests that place data in MMRAM.
    if (Rounded == 0 || Mm->PoolTop + Rounded > Mm->MmramBytes / 4 * 3) {
      return EFI_OUT_OF_RESOURCES;
    }
    *Buffer = Mm->MmramBase() + Mm->PoolTop;
    Mm->PoolTop += Rounded;
    Mm->Pool[*Buffer] = Size;
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI FreePool(VOID *Buffer) {
    MmPlatform *Mm = Live("MmFreePool");
    if (Mm == nullptr || Mm->Pool.erase(Buffer) == 0) {
      Fail(Severity::Unsafe, "MmFreePool of a buffer MM pool never gave out");
      return EFI_INVALID_PARAMETER;
    }
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI LocateProtocol(CONST EFI_GUID *Protocol, VOID *Registration, VOID **Interface) {
    MmPlatform *Mm = Live("MmLocateProtocol");
    if (Mm == nullptr || Protocol == nullptr || Interface == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    auto Found = Mm->MmProtocols.find(MmPlatform::Key(*Protocol));
    if (Found == Mm->MmProtocols.end()) {
      *Interface = nullptr;
      return EFI_NOT_FOUND;
    }
    *Interface = Found->second;
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI RegisterProtocolNotify(CONST EFI_GUID *Protocol, EFI_MM_NOTIFY_FN Function,
                                                  VOID **Registration) {
    MmPlatform *Mm = Live("MmRegisterProtocolNotify");
    if (Mm == nullptr || Protocol == nullptr || Registration == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    if (Function == nullptr) {
      for (auto It = Mm->Notifies.begin(); It != Mm->Notifies.end(); ++It) {
        if (&*It == *Registration) {
          Mm->Notifies.erase(It);
          return EFI_SUCCESS;
        }
      }
      return EFI_NOT_FOUND;
    }
    Mm->Notifies.emplace_back(MmPlatform::Key(*Protocol), Function);
    *Registration = &Mm->Notifies.back();
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI GetMemoryMap(UINTN *MapSize, EFI_MEMORY_DESCRIPTOR *Map, UINTN *MapKey,
                                        UINTN *DescriptorSize, UINT32 *DescriptorVersion) {
    MmPlatform *Mm = Live("GetMemoryMap");
    if (Mm == nullptr || MapSize == nullptr || MapKey == nullptr || DescriptorSize == nullptr ||
        DescriptorVersion == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    constexpr UINTN Stride = sizeof(EFI_MEMORY_DESCRIPTOR) + 8;
    const UINTN Needed = Mm->MemoryMap.size() * Stride;
    *DescriptorSize = Stride;
    *DescriptorVersion = 1;
    *MapKey = 0x4D4D;
    if (*MapSize < Needed || Map == nullptr) {
      *MapSize = Needed;
      return EFI_BUFFER_TOO_SMALL;
    }
    for (size_t Index = 0; Index < Mm->MemoryMap.size(); Index++) {
      UINT8 *Slot = reinterpret_cast<UINT8 *>(Map) + Index * Stride;
      std::memset(Slot, 0xEE, Stride);
      std::memcpy(Slot, &Mm->MemoryMap[Index], sizeof(EFI_MEMORY_DESCRIPTOR));
    }
    *MapSize = Needed;
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI HandlerRegister(EFI_MM_HANDLER_ENTRY_POINT Handler, CONST EFI_GUID *HandlerType,
                                           EFI_HANDLE *DispatchHandle) {
    MmPlatform *Mm = Live("MmiHandlerRegister");
    if (Mm == nullptr || Handler == nullptr || DispatchHandle == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    if (HandlerType != nullptr) {
      Fail("MmiHandlerRegister for a handler type: only root handlers are modelled");
      return EFI_UNSUPPORTED;
    }
    *DispatchHandle = reinterpret_cast<EFI_HANDLE>(static_cast<uintptr_t>(Mm->NextHandle++));
    Mm->RootHandlers.emplace_back(*DispatchHandle, Handler);
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI HandlerUnRegister(EFI_HANDLE DispatchHandle) {
    MmPlatform *Mm = Live("MmiHandlerUnRegister");
    if (Mm == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    for (auto It = Mm->RootHandlers.begin(); It != Mm->RootHandlers.end(); ++It) {
      if (It->first == DispatchHandle) {
        Mm->RootHandlers.erase(It);
        return EFI_SUCCESS;
      }
    }
    return EFI_INVALID_PARAMETER;
  }

  static EFI_STATUS EFIAPI ReadSaveState(CONST EFI_MM_CPU_PROTOCOL *This, UINTN Width,
                                         EFI_MM_SAVE_STATE_REGISTER Register, UINTN CpuIndex, VOID *Buffer) {
    MmPlatform *Mm = Live("MmCpu.ReadSaveState");
    if (Mm == nullptr || Buffer == nullptr || CpuIndex >= Mm->Cpus.size()) {
      return EFI_INVALID_PARAMETER;
    }
    const MmPlatform::Cpu &Cpu = Mm->Cpus[CpuIndex];
    UINT64 Value;
    switch (Register) {
      case EFI_MM_SAVE_STATE_REGISTER_RAX:
        Value = Cpu.Rax;
        break;
      case EFI_MM_SAVE_STATE_REGISTER_RBX:
        Value = Cpu.Rbx;
        break;
      case EFI_MM_SAVE_STATE_REGISTER_RSI:
        Value = Cpu.Rsi;
        break;
      case EFI_MM_SAVE_STATE_REGISTER_IO:
        if (!Cpu.Io) {
          return EFI_UNSUPPORTED;
        }
        if (Width != sizeof(EFI_MM_SAVE_STATE_IO_INFO)) {
          return EFI_INVALID_PARAMETER;
        }
        std::memcpy(Buffer, &*Cpu.Io, sizeof(EFI_MM_SAVE_STATE_IO_INFO));
        return EFI_SUCCESS;
      default:
        return EFI_NOT_FOUND;
    }
    if (Width != 1 && Width != 2 && Width != 4 && Width != 8) {
      return EFI_INVALID_PARAMETER;
    }
    std::memcpy(Buffer, &Value, Width);
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI WriteSaveState(CONST EFI_MM_CPU_PROTOCOL *This, UINTN Width,
                                          EFI_MM_SAVE_STATE_REGISTER Register, UINTN CpuIndex, CONST VOID *Buffer) {
    Fail("MmCpu.WriteSaveState: not modelled");
    return EFI_UNSUPPORTED;
  }

  static EFI_STATUS EFIAPI SwRegister(CONST EFI_SMM_SW_DISPATCH2_PROTOCOL *This,
                                      EFI_SMM_HANDLER_ENTRY_POINT2 DispatchFunction,
                                      EFI_SMM_SW_REGISTER_CONTEXT *RegisterContext, EFI_HANDLE *DispatchHandle) {
    MmPlatform *Mm = Live("SwDispatch2.Register");
    if (Mm == nullptr || DispatchFunction == nullptr || RegisterContext == nullptr || DispatchHandle == nullptr ||
        RegisterContext->SwSmiInputValue > 0xFF) {
      return EFI_INVALID_PARAMETER;
    }
    for (const auto &Child : Mm->SwChildren) {
      if (std::get<2>(Child) == RegisterContext->SwSmiInputValue) {
        return EFI_INVALID_PARAMETER;  // the value is taken
      }
    }
    *DispatchHandle = reinterpret_cast<EFI_HANDLE>(static_cast<uintptr_t>(Mm->NextHandle++));
    Mm->SwChildren.emplace_back(*DispatchHandle, DispatchFunction, RegisterContext->SwSmiInputValue);
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI SwUnRegister(CONST EFI_SMM_SW_DISPATCH2_PROTOCOL *This, EFI_HANDLE DispatchHandle) {
    Fail("SwDispatch2.UnRegister: not modelled");
    return EFI_UNSUPPORTED;
  }

  static EFI_STATUS EFIAPI SmmGetVariable(CONST CHAR16 *Name, CONST EFI_GUID *Guid, UINT32 *Attributes, UINTN *DataSize,
                                          VOID *Data) {
    MmPlatform *Mm = Live("SmmGetVariable");
    if (Mm == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    return Mm->P.Variables().Get(Name, Guid, Attributes, DataSize, Data, Mm->P.BootServicesEnded());
  }
  static EFI_STATUS EFIAPI SmmSetVariable(CONST CHAR16 *Name, CONST EFI_GUID *Guid, UINT32 Attributes, UINTN DataSize,
                                          VOID *Data) {
    MmPlatform *Mm = Live("SmmSetVariable");
    if (Mm == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    Mm->SetVariableCalls++;
    if (Mm->DuringSetVariable) {
      Mm->DuringSetVariable();
    }
    if (std::optional<EFI_STATUS> Injected = Mm->P.Faults().Check("SmmVariable.SmmSetVariable")) {
      return *Injected;
    }
    return Mm->P.Variables().Set(Name, Guid, Attributes, DataSize, Data, Mm->P.BootServicesEnded());
  }
  static EFI_STATUS EFIAPI SmmGetNextVariableName(UINTN *, CHAR16 *, EFI_GUID *) {
    Fail("SmmGetNextVariableName: not modelled");
    return EFI_UNSUPPORTED;
  }
  static EFI_STATUS EFIAPI SmmQueryVariableInfo(UINT32, UINT64 *, UINT64 *, UINT64 *) {
    Fail("SmmQueryVariableInfo: not modelled");
    return EFI_UNSUPPORTED;
  }
};

namespace {
EFI_SMM_BASE2_PROTOCOL gSmmBase2 = {MmServices::InSmm, MmServices::GetSmstLocation};
EFI_SMM_ACCESS2_PROTOCOL gSmmAccess2 = {nullptr, nullptr, nullptr, MmServices::GetCapabilities, TRUE, FALSE};
EFI_MM_CPU_PROTOCOL gMmCpu = {MmServices::ReadSaveState, MmServices::WriteSaveState};
EFI_SMM_SW_DISPATCH2_PROTOCOL gSwDispatch = {MmServices::SwRegister, MmServices::SwUnRegister, 0xFF};
EFI_SMM_VARIABLE_PROTOCOL gSmmVariable = {MmServices::SmmGetVariable, MmServices::SmmGetNextVariableName,
                                          MmServices::SmmSetVariable, MmServices::SmmQueryVariableInfo};
}  // namespace

MmPlatform::GuidKey MmPlatform::Key(const EFI_GUID &Guid) {
  GuidKey Result;
  std::memcpy(&Result.first, &Guid, 8);
  std::memcpy(&Result.second, reinterpret_cast<const UINT8 *>(&Guid) + 8, 8);
  return Result;
}

MmPlatform *MmPlatform::Current() { return gLive; }

MmPlatform::MmPlatform(Platform &Owner, unsigned CpuCount, size_t Bytes)
    : Cpus(CpuCount), P(Owner), MmramBytes(Bytes), Storage(new UINT8[kBelowMmram + Bytes]()) {
  if (gLive != nullptr) {
    Fail("a second MmPlatform on one platform");
  }
  gLive = this;
  SaveStateSizes.assign(CpuCount, 0);
  SaveStates.assign(CpuCount, nullptr);
  Mmst.Hdr.Signature = MM_MMST_SIGNATURE;
  Mmst.Hdr.HeaderSize = sizeof(Mmst);
  Mmst.MmAllocatePool = MmServices::AllocatePool;
  Mmst.MmFreePool = MmServices::FreePool;
  Mmst.NumberOfCpus = CpuCount;
  Mmst.CpuSaveStateSize = SaveStateSizes.data();
  Mmst.CpuSaveState = SaveStates.data();
  Mmst.MmLocateProtocol = MmServices::LocateProtocol;
  Mmst.MmiHandlerRegister = MmServices::HandlerRegister;
  Mmst.MmRegisterProtocolNotify = MmServices::RegisterProtocolNotify;
  SavedGetMemoryMap = P.BootServices()->GetMemoryMap;
  P.BootServices()->GetMemoryMap = MmServices::GetMemoryMap;
  Mmst.MmiHandlerUnRegister = MmServices::HandlerUnRegister;
  MmProtocols[Key(gEfiMmCpuProtocolGuid)] = &gMmCpu;
  MmProtocols[Key(gEfiSmmVariableProtocolGuid)] = &gSmmVariable;

  if (EFI_ERROR(P.InstallProtocol(&DxeHandle, gEfiSmmBase2ProtocolGuid, &gSmmBase2)) ||
      EFI_ERROR(P.InstallProtocol(&DxeHandle, gEfiSmmAccess2ProtocolGuid, &gSmmAccess2))) {
    Fail("cannot install the SMM base and access protocols");
  }
  AccessInstalled = true;
  P.OnIoRead8 = [this](UINT16 Port) -> UINT8 {
    if (Port != SMI_VARIABLE_COMMAND_PORT) {
      Fail("MM driver read I/O port " + std::to_string(Port));
      return 0xFF;
    }
    return ApmControl;
  };
}

MmPlatform::~MmPlatform() {
  P.BootServices()->GetMemoryMap = SavedGetMemoryMap;
  if (gLive == this) {
    gLive = nullptr;
  }
}

void MmPlatform::RemoveSmmAccess() {
  if (AccessInstalled) {
    P.UninstallProtocol(DxeHandle, gEfiSmmAccess2ProtocolGuid, &gSmmAccess2);
    AccessInstalled = false;
  }
}

void MmPlatform::SignalReadyToLock() {
  static UINT8 ReadyToLock;
  MmProtocols[Key(gEfiSmmReadyToLockProtocolGuid)] = &ReadyToLock;
  auto Pending = Notifies;
  for (const auto &[Guid, Function] : Pending) {
    if (Guid == Key(gEfiSmmReadyToLockProtocolGuid)) {
      Function(&gEfiSmmReadyToLockProtocolGuid, &ReadyToLock, nullptr);
    }
  }
}

void MmPlatform::InstallSwDispatch() { MmProtocols[Key(gEfiSmmSwDispatch2ProtocolGuid)] = &gSwDispatch; }

void MmPlatform::RunHandlers(UINTN Writer, bool Software) {
  Mmst.CurrentlyExecutingCpu = HandlerCpu.value_or(Writer);
  if (MmProtocols.count(Key(gEfiSmmSwDispatch2ProtocolGuid)) != 0) {
    if (!Software) {
      return;  // not a source this dispatcher decodes
    }
    // The dispatcher decodes the port and names the writer, as a chipset's does.
    for (const auto &[Handle, Function, InputValue] : SwChildren) {
      if (InputValue == ApmControl) {
        EFI_SMM_SW_REGISTER_CONTEXT Register{InputValue};
        EFI_SMM_SW_CONTEXT Context{Writer, ApmControl, 0};
        UINTN Size = sizeof(Context);
        Results.push_back(Function(Handle, &Register, &Context, &Size));
      }
    }
    return;
  }
  // A copy: a handler may unregister itself.
  auto Handlers = RootHandlers;
  for (const auto &[Handle, Function] : Handlers) {
    Results.push_back(Function(Handle, nullptr, nullptr, nullptr));
  }
}

void MmPlatform::RaiseSoftwareSmi(UINTN Writer, UINT8 Value, UINT8 Ah, UINT64 Rbx, UINT64 Rsi, bool SaveStateIo) {
  if (Writer >= Cpus.size()) {
    Fail("software SMI from a CPU the platform does not have");
    return;
  }
  Cpu &Source = Cpus[Writer];
  Source.Rax = (Source.Rax & ~0xFFFFULL) | (static_cast<UINT64>(Ah) << 8) | Value;
  Source.Rbx = Rbx;
  Source.Rsi = Rsi;
  if (SaveStateIo) {
    Source.Io = EFI_MM_SAVE_STATE_IO_INFO{Value, SMI_VARIABLE_COMMAND_PORT, EFI_MM_SAVE_STATE_IO_WIDTH_UINT8,
                                          EFI_MM_SAVE_STATE_IO_TYPE_OUTPUT};
  }
  ApmControl = Value;
  RunHandlers(Writer, true);
  if (SaveStateIo) {
    Source.Io.reset();
  }
}

void MmPlatform::RaiseOtherMmi() { RunHandlers(HandlerCpu.value_or(0), false); }

void MmPlatform::AnswerSoftwareSmis() {
  P.OnSoftwareSmi = [this](UINT16 Port, UINT8 Value, UINT8 Ah, UINT64 Rbx, UINT64 Rsi) {
    if (Port != SMI_VARIABLE_COMMAND_PORT) {
      Fail("software SMI on port " + std::to_string(Port));
      return;
    }
    RaiseSoftwareSmi(0, Value, Ah, Rbx, Rsi);
  };
}

}  // namespace sim
