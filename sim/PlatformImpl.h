// The platform's private state, shared by the files of sim/ that implement one service each.
// Nothing outside sim/ includes this header: tests see only Platform.h.
#pragma once

#include "Platform.h"

#include <deque>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// A handle is the address of one of these. Handles are never freed while the platform
// lives, so a stale handle is recognised as dead instead of being read after free.
struct HandleRecord {
  UINT64 Id;
  bool Live = true;
};

// One protocol interface on one handle. Serial numbers grow with every installation
// (and reinstallation), so they give the order of each protocol's interface list.
struct ProtocolInstance {
  EFI_GUID Guid;
  HandleRecord *Handle;
  VOID *Interface;
  UINT64 Serial;
};

struct EventRecord {
  UINT32 Type;
  EFI_TPL NotifyTpl;
  EFI_EVENT_NOTIFY Notify;
  VOID *Context;
  bool HasGroup = false;
  EFI_GUID Group{};
  bool Signaled = false;
  bool Queued = false;
  bool Closed = false;
  bool Orphaned = false;  // its notify function was in a module that has been unloaded
};

// The key RegisterProtocolNotify hands out. Position is the serial of the last instance
// handed to this registration; the next one is the first live instance above it.
struct NotifyRegistration {
  EFI_GUID Guid;
  EventRecord *Event;
  UINT64 Position;
  bool Live = true;
};

struct PoolBlock {
  UINTN Size;
  UINT32 Type;
  bool Live = true;
  bool Reported = false;
};

struct Platform::Impl {
  explicit Impl(Platform &Owner);
  ~Impl();

  Platform &Owner;
  EFI_SYSTEM_TABLE St{};
  EFI_BOOT_SERVICES Bs{};
  EFI_RUNTIME_SERVICES Rt{};

  // --- Calls after ExitBootServices (each one is also a test failure).
  unsigned BootCallsAfterExit = 0;

  // --- TPL and notifications (Tpl.cpp, Events.cpp).
  std::vector<std::unique_ptr<EventRecord>> Events;
  std::deque<EventRecord *> NotifyQueue[TPL_HIGH_LEVEL + 1];
  EFI_TPL RaiseTpl(EFI_TPL NewTpl);
  void RestoreTpl(EFI_TPL OldTpl);
  // Runs every queued notification above the current TPL, as releasing a firmware lock does.
  void DispatchPending();
  EventRecord *FindOpenEvent(EFI_EVENT Event) const;
  EFI_STATUS CreateEvent(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY Notify, VOID *Context, const EFI_GUID *Group,
                         EFI_EVENT *Event);
  EFI_STATUS SignalEvent(EFI_EVENT Event);
  EFI_STATUS CloseEvent(EFI_EVENT Event);
  EFI_STATUS CheckEvent(EFI_EVENT Event);
  void QueueNotify(EventRecord &Event);
  // Signals without dispatching: the caller dispatches once its own work is done.
  void MarkSignaled(EventRecord &Event);
  void SignalGroupMembers(const EFI_GUID &Group);
  // A module is going away: its events must never call into the unmapped code.
  void OrphanEventsOf(uintptr_t Base, UINT64 Size);

  // --- Protocol database (ProtocolDb.cpp, ProtocolNotify.cpp).
  std::vector<std::unique_ptr<HandleRecord>> Handles;
  std::vector<ProtocolInstance> Instances;  // in serial order
  std::vector<std::unique_ptr<NotifyRegistration>> Registrations;
  UINT64 NextSerial = 1;
  UINT64 NextHandleId = 1;
  HandleRecord *FindLiveHandle(EFI_HANDLE Handle) const;
  HandleRecord *NewHandle();
  const ProtocolInstance *FindInstance(EFI_HANDLE Handle, const EFI_GUID &Guid) const;
  EFI_STATUS Install(EFI_HANDLE *Handle, const EFI_GUID *Guid, VOID *Interface);
  EFI_STATUS Uninstall(EFI_HANDLE Handle, const EFI_GUID *Guid, VOID *Interface);
  EFI_STATUS Reinstall(EFI_HANDLE Handle, const EFI_GUID *Guid, VOID *Old, VOID *New);
  EFI_STATUS HandleProtocol(EFI_HANDLE Handle, const EFI_GUID *Guid, VOID **Interface);
  EFI_STATUS RegisterProtocolNotify(const EFI_GUID *Guid, EFI_EVENT Event, VOID **Registration);
  NotifyRegistration *FindRegistration(VOID *Key) const;
  // The next instance for a registration (nullptr: none); Advance moves its position.
  const ProtocolInstance *NextForRegistration(const NotifyRegistration &Registration) const;
  void NotifyInstalled(const EFI_GUID &Guid);
  // Handles matching a search; for ByRegisterNotify at most one. Status is the parameter check.
  EFI_STATUS CollectHandles(UINT32 Type, const EFI_GUID *Guid, VOID *Key, std::vector<EFI_HANDLE> &Out) const;
  EFI_STATUS LocateHandle(UINT32 Type, const EFI_GUID *Guid, VOID *Key, UINTN *BufferSize, EFI_HANDLE *Buffer);
  EFI_STATUS LocateHandleBuffer(UINT32 Type, const EFI_GUID *Guid, VOID *Key, UINTN *Count, EFI_HANDLE **Buffer);
  EFI_STATUS LocateProtocol(const EFI_GUID *Guid, VOID *Registration, VOID **Interface);
  void AdvanceRegistration(VOID *Key, UINT32 Type, const std::vector<EFI_HANDLE> &Found);

  // --- Pool (Pool.cpp).
  std::map<const VOID *, PoolBlock> Blocks;
  size_t LiveBytes = 0;
  EFI_STATUS AllocatePool(UINT32 Type, UINTN Size, VOID **Buffer);
  EFI_STATUS FreePool(VOID *Buffer);
  void ReportLeaks();
  void ReleaseAllPool();

  // --- Configuration tables and HOBs (ConfigurationTable.cpp).
  std::vector<EFI_CONFIGURATION_TABLE> ConfigTables;
  std::vector<UINT64> HobList;  // 8-byte aligned copy
  EFI_STATUS InstallConfigurationTable(const EFI_GUID *Guid, VOID *Table);
  void RefreshSystemTableCrc();

  // --- Lifecycle (Lifecycle.cpp).
  bool InExitBootServicesNotify = false;
  bool InVirtualAddressChange = false;
  bool VirtualMapSet = false;
  INT64 VirtualOffset = 0;
  void ExitBootServices();
  void SetVirtualAddressMap(INT64 Offset);
  EFI_STATUS ConvertPointer(UINTN Disposition, VOID **Address);

  // --- Console output (ConsoleOut.cpp).
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL ConOut{};
  EFI_SIMPLE_TEXT_OUTPUT_MODE ConOutMode{};
  EFI_HANDLE ConOutHandle = nullptr;
  void InitConsole();
  std::vector<ConsoleWrite> &ConsoleLog() { return Owner.ConsoleLog; }

  // --- Status codes (StatusCode.cpp).
  EFI_STATUS_CODE_PROTOCOL StatusCode{};
  EFI_HANDLE StatusCodeHandle = nullptr;
  bool StatusCodeInstalled = false;
  void InitStatusCode();
  std::vector<StatusCodeReport> &Reports() { return Owner.Reports; }

  // --- Image handles made for tests (ImageHandles.cpp).
  std::vector<std::unique_ptr<EFI_LOADED_IMAGE_PROTOCOL>> TestImages;
};

// Table filling, one call per service file.
void FillUnexpectedBootServices(EFI_BOOT_SERVICES &Bs);
void FillUnexpectedRuntimeServices(EFI_RUNTIME_SERVICES &Rt);
void FillTplServices(EFI_BOOT_SERVICES &Bs);
void FillEventServices(EFI_BOOT_SERVICES &Bs);
void FillProtocolServices(EFI_BOOT_SERVICES &Bs);
void FillMultipleProtocolServices(EFI_BOOT_SERVICES &Bs);
void FillPoolServices(EFI_BOOT_SERVICES &Bs);
void FillMemoryServices(EFI_BOOT_SERVICES &Bs);
void FillConfigurationServices(EFI_BOOT_SERVICES &Bs);
void FillLifecycleServices(EFI_BOOT_SERVICES &Bs);
void FillTimeServices(EFI_BOOT_SERVICES &Bs);
void FillRuntimeServices(EFI_RUNTIME_SERVICES &Rt);

// Loaded-image protocols for image handles (ImageHandles.cpp).
EFI_MEMORY_TYPE DataTypeFor(EFI_MEMORY_TYPE CodeType);
std::unique_ptr<EFI_LOADED_IMAGE_PROTOCOL> MakeLoadedImage(EFI_SYSTEM_TABLE *SystemTable, EFI_MEMORY_TYPE CodeType,
                                                           VOID *ImageBase, UINT64 ImageSize);

// The platform a service call reaches, or nullptr (a failure is recorded then).
Platform *LivePlatform(const char *Service);
// The live platform or nullptr, without recording a failure.
Platform *LivePlatformIfAny();

std::string GuidText(const EFI_GUID &Guid);
std::string Narrow(std::u16string_view Text);

}  // namespace sim
