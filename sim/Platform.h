// The simulated UEFI platform: one live instance per test. It owns the system table, the
// boot and runtime services, the protocol database, events and TPLs, pool, variables,
// console, HOB list, status-code protocol and the peers a test adds. Every table entry
// exists; a service the platform does not model fails the test loudly instead of crashing.
#pragma once

#include <Uefi.h>
#include <Arch.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// How much of a run a failure spoils; the failure hook decides what each level means.
enum class Severity {
  // A broken calling rule or an unexpected call: the platform refuses or ignores it and the
  // driver's own failure path runs, so the run can go on.
  Breach,
  // Memory misuse, lost memory or a hang: a double free, a pointer pool never returned, a
  // leak, a NULL buffer, an unterminated string, a wrong TPL, a dead loop, a call through a
  // null or foreign This, a boot service after ExitBootServices.
  Unsafe,
};

// Receives every failure the simulator reports. Tests install one that makes a failure a
// non-fatal GoogleTest failure, fuzzers one that aborts on Unsafe. With no hook installed a
// failure is printed to stderr and Unsafe aborts.
using FailureHook = void (*)(Severity Level, const std::string &Message);
// Installs Hook (nullptr for the default) and returns the one it replaces.
FailureHook SetFailureHook(FailureHook Hook);

// Reports a failure to the hook: never a crash of its own, the caller goes on.
void Fail(Severity Level, const std::string &Message);
inline void Fail(const std::string &Message) { Fail(Severity::Breach, Message); }

// How LocateHandle(ByRegisterNotify) starts after RegisterProtocolNotify:
//  Uefi  - only instances installed after the registration are returned;
//  EdkII - the first call starts at the oldest existing instance (OVMF behaves so).
enum class NotifyReading { Uefi, EdkII };

class FaultInjector {
 public:
  FaultInjector();
  FaultInjector(const FaultInjector &) = delete;  // counters are handed out by address
  FaultInjector &operator=(const FaultInjector &) = delete;
  // Service names are the table member names ("AllocatePool", "GetVariable") or
  // "Peer.Member" for protocol peers ("Smbios.GetNext", "Transport.SendCommand"); the
  // platform's own protocols are "ConOut.OutputString", "ConOut.SetCursorPosition", ...
  // and "StatusCode.ReportStatusCode".
  // Nth is 1-based and counts the calls made after the rule is set.
  void FailNth(std::string_view Service, unsigned Nth, EFI_STATUS Status);
  void FailAlways(std::string_view Service, EFI_STATUS Status);
  void FailOverallNth(unsigned Nth, EFI_STATUS Status);  // the Nth call of any service from now
  void Clear();
  // Counts the call and logs it; returns the status to fail it with, if any.
  std::optional<EFI_STATUS> Check(std::string_view Service);
  // A service's counter, found once by a peer whose path is hot (a bus scan makes tens of
  // thousands of calls): checking through it skips the name lookup and does the rest.
  using ServiceCounter = std::pair<const std::string, unsigned>;
  ServiceCounter &Counter(std::string_view Service);
  std::optional<EFI_STATUS> Check(ServiceCounter &Service);
  // Differs between any two injectors of one process, so a counter cached by a call site
  // is known to belong to this one.
  unsigned long long Serial() const { return Serial_; }
  unsigned Count(std::string_view Service) const;
  unsigned TotalCalls() const { return Total; }
  const std::vector<std::string> &CallLog() const { return Log; }
  // The log costs an allocation per call; a harness that never reads it (a fuzzer making
  // tens of thousands of configuration reads per run) turns it off, and the records of
  // high-volume paths follow (configuration reads, status-code reports). Counting and
  // failing go on regardless.
  void KeepCallLog(bool Keep) { Logging = Keep; }
  bool KeepsCallLog() const { return Logging; }

 private:
  struct Rule {
    std::string Service;
    unsigned Nth;  // 0: always; else the call count at which to fail
    EFI_STATUS Status;
  };
  std::vector<Rule> Rules;
  std::optional<std::pair<unsigned, EFI_STATUS>> Overall;
  unsigned Total = 0;
  std::map<std::string, unsigned, std::less<>> Counts;  // nodes stay put: counters are handed out
  ServiceCounter *Latest = nullptr;  // a run of calls to one service skips the map
  std::vector<std::string> Log;
  bool Logging = true;
  unsigned long long Serial_;
};

class VariableStore {
 public:
  struct Variable {
    UINT32 Attributes;
    std::vector<UINT8> Data;
  };
  void Put(std::u16string_view Name, const EFI_GUID &Guid, UINT32 Attributes, std::vector<UINT8> Data);
  const Variable *Find(std::u16string_view Name, const EFI_GUID &Guid) const;
  void Remove(std::u16string_view Name, const EFI_GUID &Guid);
  // Every GetVariable answers EFI_NOT_AVAILABLE_YET while set.
  void SetNotAvailableYet(bool On) { NotAvailableYet = On; }
  bool IsNotAvailableYet() const { return NotAvailableYet; }
  unsigned WriteCount() const { return Writes; }

  // The runtime services call these with UEFI's rules (sizes, EFI_BUFFER_TOO_SMALL, attributes).
  EFI_STATUS Get(const CHAR16 *Name, const EFI_GUID *Guid, UINT32 *Attributes, UINTN *DataSize, VOID *Data);
  // After ExitBootServices variables without EFI_VARIABLE_RUNTIME_ACCESS are not found.
  EFI_STATUS Get(const CHAR16 *Name, const EFI_GUID *Guid, UINT32 *Attributes, UINTN *DataSize, VOID *Data,
                 bool AtRuntime);
  EFI_STATUS Set(const CHAR16 *Name, const EFI_GUID *Guid, UINT32 Attributes, UINTN DataSize, const VOID *Data,
                 bool AtRuntime);

 private:
  std::map<std::pair<std::u16string, std::string>, Variable> Store;
  bool NotAvailableYet = false;
  unsigned Writes = 0;
};

struct ConsoleWrite {
  INT32 Column;
  INT32 Row;
  std::u16string Text;
};

struct StatusCodeReport {
  EFI_STATUS_CODE_TYPE Type;
  EFI_STATUS_CODE_VALUE Value;
  UINT32 Instance;
  std::optional<EFI_GUID> CallerId;
  std::vector<UINT8> Data;  // the whole EFI_STATUS_CODE_DATA: header and payload
};

// Base of everything a test adds to the platform (SMBIOS, PCI, disks, keyboards, ...).
class Peer {
 public:
  virtual ~Peer() = default;
};

// A driver module loaded like an image: a fresh copy with zeroed module state, its own
// image handle with EFI_LOADED_IMAGE_PROTOCOL (code type from the subsystem).
class LoadedDriver {
 public:
  EFI_STATUS Start();  // calls _ModuleEntryPoint(ImageHandle, SystemTable)
  EFI_HANDLE ImageHandle() const { return Handle; }
  EFI_LOADED_IMAGE_PROTOCOL *LoadedImage() const { return Image.get(); }
  // Looks up a symbol of the module (tests only: module state is otherwise hidden).
  void *Symbol(const char *Name) const;
  ~LoadedDriver();
  LoadedDriver(LoadedDriver &&) noexcept;
  LoadedDriver(const LoadedDriver &) = delete;

 private:
  friend class Platform;
  LoadedDriver() = default;
  void *Module = nullptr;
  std::string CopyPath;
  EFI_HANDLE Handle = nullptr;
  std::unique_ptr<EFI_LOADED_IMAGE_PROTOCOL> Image;
  EFI_IMAGE_ENTRY_POINT Entry = nullptr;
  // The memory of a PE32+ image (LoadPeImage): released only after the destructor has
  // orphaned the image's events, so none of them can call into unmapped code.
  std::shared_ptr<void> Mapping;
};

enum class DriverImage { Roster, Hotlatch };

class Platform {
 public:
  Platform();  // a second live Platform is refused (test failure)
  ~Platform();  // reports leaked pool (calls after ExitBootServices fail as they are made)
  Platform(const Platform &) = delete;
  static Platform &Current();

  EFI_SYSTEM_TABLE *SystemTable();
  EFI_BOOT_SERVICES *BootServices();
  EFI_RUNTIME_SERVICES *RuntimeServices();

  // --- Protocol database (installing from a test dispatches notifications as firmware does).
  EFI_STATUS InstallProtocol(EFI_HANDLE *Handle, const EFI_GUID &Guid, VOID *Interface);
  EFI_STATUS UninstallProtocol(EFI_HANDLE Handle, const EFI_GUID &Guid, VOID *Interface);
  EFI_STATUS ReinstallProtocol(EFI_HANDLE Handle, const EFI_GUID &Guid, VOID *Old, VOID *New);
  std::vector<EFI_HANDLE> HandlesWith(const EFI_GUID &Guid) const;
  VOID *InterfaceOn(EFI_HANDLE Handle, const EFI_GUID &Guid) const;
  void SetNotifyReading(NotifyReading Reading) { Reading_ = Reading; }

  // --- Events and TPL.
  EFI_TPL CurrentTpl() const { return Tpl; }
  bool IsEventOpen(EFI_EVENT Event) const;
  size_t OpenEventCount() const;
  void SignalGroup(const EFI_GUID &Group);
  // Runs Body at Tpl (raised from the current level), then restores and dispatches.
  void RunAt(EFI_TPL Level, const std::function<void()> &Body);

  // --- Boot lifecycle.
  void ExitBootServices();  // signals the group; later boot-service calls are test failures
  bool BootServicesEnded() const { return Ended; }
  // Boot-service calls made after ExitBootServices (each one already failed the test).
  unsigned BootServiceCallsAfterExit() const;
  // Signals the virtual-address-change group; ConvertPointer, callable only from its
  // notifications, adds Offset (0 keeps converted pointers callable on the host).
  void SetVirtualAddressMap(INT64 Offset);
  const std::vector<UINTN> &ConvertedPointers() const { return Converted; }

  // --- Virtual time: starts at 0 and advances only in Stall, by the microseconds asked.
  UINT64 Microseconds() const { return Now; }
  void AdvanceTime(UINT64 Microseconds) { Now += Microseconds; }

  // --- Pool.
  size_t LiveAllocations() const;
  size_t LiveBytes() const;
  size_t PeakBytes() const { return Peak; }
  // Reports every live allocation as a test failure (the destructor does this too).
  void ExpectNoLeaks();

  // --- Variables, console, configuration tables, HOBs.
  VariableStore &Variables() { return Vars; }
  const std::vector<ConsoleWrite> &Console() const { return ConsoleLog; }
  void InstallConfigurationTable(const EFI_GUID &Guid, VOID *Table);
  void SetHobList(std::vector<UINT8> Bytes);  // copied, installed under gEfiHobListGuid

  // --- Status codes: the protocol is installed unless RemoveStatusCodeProtocol is called;
  // reports are recorded while the fault injector keeps its call log.
  const std::vector<StatusCodeReport> &StatusCodes() const { return Reports; }
  void RemoveStatusCodeProtocol();
  void ClearStatusCodes() { Reports.clear(); }

  // --- Architecture hooks a driver reaches through support/arch on the host.
  std::function<void(UINT16 Port, UINT8 Value, UINT8 Ah, UINT64 Rbx, UINT64 Rsi)> OnSoftwareSmi;
  std::function<void(volatile UINT64 *Flag)> OnSpinRead;
  unsigned Breakpoints = 0;
  // I/O port accesses (a peer such as a KCS device binds them). Unbound, a read gives
  // all ones, as an empty bus does, and a write goes nowhere.
  std::function<UINT8(UINT16 Port)> OnIoRead8;
  std::function<void(UINT16 Port, UINT8 Value)> OnIoWrite8;
  // Points a driver's hook table (module or statically linked) at this platform.
  static void BindHostHooks(ARCH_HOST_HOOKS *Hooks);

  // --- Loading driver modules built for the host.
  LoadedDriver Load(DriverImage Which);
  LoadedDriver LoadModule(const std::string &Path, UINT16 Subsystem);
  // Loads a PE32+ driver image (subsystem 11 or 12) from the firmware build: mapped,
  // relocated and given its image handle; Start runs the image's own entry point. The image
  // has no host hooks: its breakpoint and port writes are real instructions, so a scenario
  // must not reach them. Symbol() finds nothing in such an image. A file that cannot run
  // is refused as a test failure and its Start fails.
  LoadedDriver LoadPeImage(const std::string &Path);
  // A handle with EFI_LOADED_IMAGE_PROTOCOL for code linked into the test itself.
  EFI_HANDLE CreateImageHandle(EFI_MEMORY_TYPE CodeType, VOID *ImageBase = nullptr, UINT64 ImageSize = 0);

  // --- Peers.
  FaultInjector &Faults() { return Faults_; }
  template <class T, class... Args>
  T &Add(Args &&...A) {
    auto Owned = std::make_unique<T>(std::forward<Args>(A)...);
    T &Ref = *Owned;
    Peers.push_back(std::move(Owned));
    return Ref;
  }

  // Implementation state is private to sim/; the service trampolines reach it.
  struct Impl;
  Impl &State() { return *State_; }

 private:
  std::unique_ptr<Impl> State_;
  NotifyReading Reading_ = NotifyReading::Uefi;
  EFI_TPL Tpl = TPL_APPLICATION;
  bool Ended = false;
  std::vector<UINTN> Converted;
  size_t Peak = 0;
  UINT64 Now = 0;
  VariableStore Vars;
  std::vector<ConsoleWrite> ConsoleLog;
  std::vector<StatusCodeReport> Reports;
  FaultInjector Faults_;
  std::vector<std::unique_ptr<Peer>> Peers;
  friend struct Impl;
};

}  // namespace sim
