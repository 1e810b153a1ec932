// Loads a host-built driver module like an image. Each load dlopens a fresh copy of the
// file, so module state starts zeroed every time, as a newly loaded image's would; the
// module gets its own image handle with EFI_LOADED_IMAGE_PROTOCOL.
#include "ServiceEntry.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace sim {

namespace {

constexpr UINT16 kSubsystemBootServiceDriver = 11;
constexpr UINT16 kSubsystemRuntimeDriver = 12;

struct MappingQuery {
  uintptr_t Base;
  UINT64 Size;
};

int FindMapping(struct dl_phdr_info *Info, size_t, void *Data) {
  auto *Query = static_cast<MappingQuery *>(Data);
  if (Info->dlpi_addr != Query->Base) {
    return 0;
  }
  UINT64 End = 0;
  for (int Index = 0; Index < Info->dlpi_phnum; Index++) {
    const auto &Header = Info->dlpi_phdr[Index];
    if (Header.p_type == PT_LOAD && Header.p_vaddr + Header.p_memsz > End) {
      End = Header.p_vaddr + Header.p_memsz;
    }
  }
  Query->Size = End;
  return 1;
}

std::string CopyToTemporaryFile(const std::string &Path) {
  char Template[] = "/tmp/sim-module-XXXXXX.so";
  int Descriptor = mkstemps(Template, 3);
  if (Descriptor < 0) {
    return {};
  }
  close(Descriptor);
  std::error_code Error;
  std::filesystem::copy_file(Path, Template, std::filesystem::copy_options::overwrite_existing, Error);
  if (Error) {
    std::remove(Template);
    return {};
  }
  return Template;
}

}  // namespace

LoadedDriver Platform::LoadModule(const std::string &Path, UINT16 Subsystem) {
  LoadedDriver Driver;
  if (Subsystem != kSubsystemBootServiceDriver && Subsystem != kSubsystemRuntimeDriver) {
    Fail("LoadModule with subsystem " + std::to_string(Subsystem) + ": only 11 and 12 are drivers");
    return Driver;
  }
  Driver.CopyPath = CopyToTemporaryFile(Path);
  if (Driver.CopyPath.empty()) {
    Fail("cannot copy module " + Path);
    return Driver;
  }
  Driver.Module = dlopen(Driver.CopyPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (Driver.Module == nullptr) {
    const char *Error = dlerror();
    Fail("cannot load module " + Path + ": " + (Error != nullptr ? Error : "unknown error"));
    return Driver;
  }
  Driver.Entry = reinterpret_cast<EFI_IMAGE_ENTRY_POINT>(dlsym(Driver.Module, "_ModuleEntryPoint"));
  if (Driver.Entry == nullptr) {
    Fail("module " + Path + " exports no _ModuleEntryPoint");
    return Driver;
  }
  BindHostHooks(static_cast<ARCH_HOST_HOOKS *>(dlsym(Driver.Module, "gArchHostHooks")));

  Dl_info Info{};
  MappingQuery Query{0, 0};
  if (dladdr(reinterpret_cast<void *>(Driver.Entry), &Info) != 0) {
    Query.Base = reinterpret_cast<uintptr_t>(Info.dli_fbase);
    dl_iterate_phdr(FindMapping, &Query);
  }
  const EFI_MEMORY_TYPE CodeType = Subsystem == kSubsystemRuntimeDriver ? EfiRuntimeServicesCode : EfiBootServicesCode;
  Driver.Image = MakeLoadedImage(SystemTable(), CodeType, reinterpret_cast<VOID *>(Query.Base), Query.Size);
  if (EFI_ERROR(InstallProtocol(&Driver.Handle, gEfiLoadedImageProtocolGuid, Driver.Image.get()))) {
    Fail("cannot install the loaded-image protocol for " + Path);
  }
  return Driver;
}

LoadedDriver Platform::Load(DriverImage Which) {
  switch (Which) {
    case DriverImage::Roster:
      return LoadModule(SIM_ROSTER_MODULE, kSubsystemBootServiceDriver);
    case DriverImage::Hotlatch:
      return LoadModule(SIM_HOTLATCH_MODULE, kSubsystemRuntimeDriver);
  }
  Fail("unknown driver image");
  return LoadedDriver();
}

EFI_STATUS LoadedDriver::Start() {
  if (Entry == nullptr) {
    Fail("Start of a driver that did not load");
    return EFI_LOAD_ERROR;
  }
  Platform *P = LivePlatform("_ModuleEntryPoint");
  if (P == nullptr) {
    return EFI_NOT_READY;
  }
  return Entry(Handle, P->SystemTable());
}

void *LoadedDriver::Symbol(const char *Name) const { return Module != nullptr ? dlsym(Module, Name) : nullptr; }

LoadedDriver::LoadedDriver(LoadedDriver &&Other) noexcept
    : Module(Other.Module),
      CopyPath(std::move(Other.CopyPath)),
      Handle(Other.Handle),
      Image(std::move(Other.Image)),
      Entry(Other.Entry),
      Mapping(std::move(Other.Mapping)) {
  Other.Module = nullptr;
  Other.CopyPath.clear();
  Other.Handle = nullptr;
  Other.Entry = nullptr;
}

LoadedDriver::~LoadedDriver() {
  // The database must not keep pointing at the loaded-image protocol this object owns.
  if (Handle != nullptr && Image != nullptr) {
    if (Platform *P = LivePlatformIfAny()) {
      P->UninstallProtocol(Handle, gEfiLoadedImageProtocolGuid, Image.get());
      P->State().OrphanEventsOf(reinterpret_cast<uintptr_t>(Image->ImageBase), Image->ImageSize);
    }
  }
  if (Module != nullptr) {
    dlclose(Module);
  }
  if (!CopyPath.empty()) {
    std::remove(CopyPath.c_str());
  }
}

}  // namespace sim
