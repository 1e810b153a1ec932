// A small Traditional MM environment for an MM driver loaded into the simulator: the SMM
// base and access protocols in the DXE database, an MM system table with its own protocol
// database, pool carved from a simulated MMRAM buffer, root MMI handlers, an optional
// software-SMI dispatcher, the MM CPU protocol over per-CPU saved registers, the APM
// control port and the SMM variable protocol over the platform's variable store.
//
// Not modelled (left null in the table, so a driver that calls them crashes the test at
// once): configuration tables, pages, StartupThisAp, MmiManage, the table's MmIo, protocol
// installation (SignalReadyToLock stands for the one installation that matters here).
#pragma once

#include <sim/Platform.h>

#include <Pi/PiMmCis.h>
#include <Protocol/MmCpu.h>
#include <Protocol/SmmAccess2.h>
#include <Protocol/SmmBase2.h>
#include <Protocol/SmmReadyToLock.h>
#include <Protocol/SmmSwDispatch2.h>
#include <Protocol/SmmVariable.h>

#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace sim {

class MmPlatform : public Peer {
 public:
  // Installs the DXE-side protocols at once. One MmPlatform per Platform.
  MmPlatform(Platform &P, unsigned CpuCount = 2, size_t MmramBytes = 512 * 1024);
  ~MmPlatform() override;
  MmPlatform(const MmPlatform &) = delete;

  struct Cpu {
    UINT64 Rax = 0;
    UINT64 Rbx = 0;
    UINT64 Rsi = 0;
    // The I/O instruction in the save state; QEMU keeps none (ReadSaveState: EFI_UNSUPPORTED).
    std::optional<EFI_MM_SAVE_STATE_IO_INFO> Io;
  };
  std::vector<Cpu> Cpus;
  // The CPU that runs the handlers (the SMM BSP) on the next MMI; the writer when unset.
  std::optional<UINTN> HandlerCpu;
  // What port 0xB2 reads.
  UINT8 ApmControl = 0;

  // A dispatcher for software SMIs in the MM database (install before the driver starts).
  void InstallSwDispatch();
  // Removes the MM variable protocol (a driver that needs it must refuse to start).
  void RemoveSmmVariable() { MmProtocols.erase(Key(gEfiSmmVariableProtocolGuid)); }
  void RemoveMmCpu() { MmProtocols.erase(Key(gEfiMmCpuProtocolGuid)); }
  // Further MMRAM descriptors reported beside the buffer's own.
  std::vector<EFI_MMRAM_DESCRIPTOR> ExtraMmram;
  // No SMM access protocol in the DXE database.
  void RemoveSmmAccess();
  // The memory map the boot services report (GetMemoryMap is answered while this peer
  // lives, with descriptors 8 bytes larger than the structure, as firmware may).
  std::vector<EFI_MEMORY_DESCRIPTOR> MemoryMap;
  // Installs the SMM ready-to-lock protocol in the MM database: its notifications run.
  void SignalReadyToLock();
  size_t ProtocolNotifyCount() const { return Notifies.size(); }

  // MMRAM: the buffer's bounds. Pool comes from its middle: its first 4 KiB and its last
  // quarter are free for a test to place bytes in (FreeMmram: a spot at its end), and
  // kBelowMmram bytes of ordinary memory the test owns lie right below it.
  static constexpr size_t kBelowMmram = 128 * 1024;
  UINT8 *MmramBase() const { return Storage.get() + kBelowMmram; }
  size_t MmramSize() const { return MmramBytes; }
  UINT8 *FreeMmram(size_t Bytes) const { return MmramBase() + MmramBytes - Bytes; }
  size_t LivePoolAllocations() const { return Pool.size(); }

  // The processor side of a software SMI: CPU Writer loads AH, RBX, RSI and writes Value to
  // port 0xB2 (AL = Value); every CPU enters MM and the handlers run. On an I/O-trapping
  // processor the writer's save state also names the instruction.
  void RaiseSoftwareSmi(UINTN Writer, UINT8 Value, UINT8 Ah, UINT64 Rbx, UINT64 Rsi, bool SaveStateIo = false);
  // An MMI that is not a software SMI (the port keeps whatever it held).
  void RaiseOtherMmi();
  // Answers the platform's software SMIs (a DXE driver's doorbell) with RaiseSoftwareSmi
  // on CPU 0.
  void AnswerSoftwareSmis();

  // Every root handler's or dispatched child's result, in order.
  const std::vector<EFI_STATUS> &HandlerResults() const { return Results; }
  size_t RootHandlerCount() const { return RootHandlers.size(); }
  size_t SwChildCount() const { return SwChildren.size(); }
  unsigned SmmSetVariableCalls() const { return SetVariableCalls; }
  // Runs inside SmmSetVariable before the store is written: a test changing the caller's
  // packet after the handler took it.
  std::function<void()> DuringSetVariable;

  static MmPlatform *Current();

 private:
  using GuidKey = std::pair<UINT64, UINT64>;
  static GuidKey Key(const EFI_GUID &Guid);
  void RunHandlers(UINTN Writer, bool Software);

  friend struct MmServices;
  Platform &P;
  size_t MmramBytes;
  std::unique_ptr<UINT8[]> Storage;
  size_t PoolTop = 4096;
  std::map<VOID *, size_t> Pool;
  EFI_MM_SYSTEM_TABLE Mmst{};
  std::vector<UINTN> SaveStateSizes;
  std::vector<VOID *> SaveStates;
  std::map<GuidKey, VOID *> MmProtocols;
  std::vector<std::pair<EFI_HANDLE, EFI_MM_HANDLER_ENTRY_POINT>> RootHandlers;
  std::list<std::pair<GuidKey, EFI_MM_NOTIFY_FN>> Notifies;  // registrations point at the nodes
  decltype(EFI_BOOT_SERVICES::GetMemoryMap) SavedGetMemoryMap = nullptr;
  std::vector<std::tuple<EFI_HANDLE, EFI_SMM_HANDLER_ENTRY_POINT2, UINTN>> SwChildren;
  unsigned NextHandle = 1;
  std::vector<EFI_STATUS> Results;
  unsigned SetVariableCalls = 0;
  EFI_HANDLE DxeHandle = nullptr;
  bool AccessInstalled = false;
};

}  // namespace sim
