// The one live platform: building the tables, the accessors tests use, and the checks
// made when a test ends (leaked pool).
#include "Hob.h"
#include "PlatformImpl.h"
#include "crc32/Crc32.h"

#include <cstring>

namespace sim {

namespace {
Platform *gLivePlatform = nullptr;

// Firmware fills these; drivers may compare them, so they carry the real signatures.
void SetHeader(EFI_TABLE_HEADER &Header, UINT64 Signature, UINT32 Size) {
  Header.Signature = Signature;
  Header.Revision = (2 << 16) | 70;
  Header.HeaderSize = Size;
  Header.CRC32 = 0;
  Header.Reserved = 0;
}

UINT32 TableCrc(const void *Table, size_t Size);
}  // namespace

Platform *LivePlatform(const char *Service) {
  if (gLivePlatform == nullptr) {
    Fail(std::string("service called with no live platform: ") + Service);
  }
  return gLivePlatform;
}

Platform *LivePlatformIfAny() { return gLivePlatform; }

Platform::Impl::Impl(Platform &OwnerPlatform) : Owner(OwnerPlatform) {}

Platform::Impl::~Impl() { ReleaseAllPool(); }

Platform::Platform() : State_(std::make_unique<Impl>(*this)) {
  // A refused second platform still gets whole tables, so nothing reads a NULL entry.
  if (gLivePlatform != nullptr) {
    Fail("a second Platform was created while another is live; calls keep reaching the first");
  } else {
    gLivePlatform = this;
  }
  Impl &S = *State_;

  SetHeader(S.Bs.Hdr, EFI_BOOT_SERVICES_SIGNATURE, sizeof(EFI_BOOT_SERVICES));
  FillUnexpectedBootServices(S.Bs);
  FillTplServices(S.Bs);
  FillEventServices(S.Bs);
  FillProtocolServices(S.Bs);
  FillMultipleProtocolServices(S.Bs);
  FillPoolServices(S.Bs);
  FillMemoryServices(S.Bs);
  FillConfigurationServices(S.Bs);
  FillLifecycleServices(S.Bs);
  FillTimeServices(S.Bs);

  SetHeader(S.Rt.Hdr, EFI_RUNTIME_SERVICES_SIGNATURE, sizeof(EFI_RUNTIME_SERVICES));
  FillUnexpectedRuntimeServices(S.Rt);
  FillRuntimeServices(S.Rt);

  static char16_t Vendor[] = u"Simulated platform";
  SetHeader(S.St.Hdr, EFI_SYSTEM_TABLE_SIGNATURE, sizeof(EFI_SYSTEM_TABLE));
  S.St.FirmwareVendor = Vendor;
  S.St.FirmwareRevision = 0x00010000;
  S.St.BootServices = &S.Bs;
  S.St.RuntimeServices = &S.Rt;

  S.InitConsole();
  S.InitStatusCode();
  // DXE always finds a HOB list in the configuration table; a test replaces it at will.
  SetHobList(HobListBuilder().Build());
  S.Bs.Hdr.CRC32 = TableCrc(&S.Bs, sizeof S.Bs);
  S.Rt.Hdr.CRC32 = TableCrc(&S.Rt, sizeof S.Rt);
  S.RefreshSystemTableCrc();
}

Platform::~Platform() {
  if (gLivePlatform == this) {
    State_->ReportLeaks();
    gLivePlatform = nullptr;
  }
}

Platform &Platform::Current() {
  if (gLivePlatform == nullptr) {
    Fail("Platform::Current() with no live platform");
    std::abort();
  }
  return *gLivePlatform;
}

void Platform::Impl::RefreshSystemTableCrc() {
  St.Hdr.CRC32 = 0;
  St.Hdr.CRC32 = TableCrc(&St, sizeof St);
}

namespace {
UINT32 TableCrc(const void *Table, size_t Size) {
  UINT32 Crc = 0;
  // The header's CRC field is zero while the CRC is computed.
  std::vector<UINT8> Copy(static_cast<const UINT8 *>(Table), static_cast<const UINT8 *>(Table) + Size);
  std::memset(Copy.data() + OFFSET_OF(EFI_TABLE_HEADER, CRC32), 0, sizeof(UINT32));
  Crc = crc32::Crc32(Copy.data(), Copy.size());
  return Crc;
}
}  // namespace

EFI_SYSTEM_TABLE *Platform::SystemTable() { return &State_->St; }
EFI_BOOT_SERVICES *Platform::BootServices() { return &State_->Bs; }
EFI_RUNTIME_SERVICES *Platform::RuntimeServices() { return &State_->Rt; }

unsigned Platform::BootServiceCallsAfterExit() const { return State_->BootCallsAfterExit; }

void Platform::RunAt(EFI_TPL Level, const std::function<void()> &Body) {
  EFI_TPL Old = State_->RaiseTpl(Level);
  Body();
  State_->RestoreTpl(Old);
}

}  // namespace sim
