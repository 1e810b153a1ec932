// Loads a PE32+ driver image the firmware build produced, as the DXE core's image loader
// does: headers and sections at their RVAs in fresh memory, base relocations applied for
// wherever that memory landed, an image handle with EFI_LOADED_IMAGE_PROTOCOL. The entry
// point is then called with the simulator's tables, which share the image's calling
// convention, so the very bytes that ship run against the simulated board.
//
// Every refusal is a test failure with the reason; nothing of a refused file is executed.
#include "ServiceEntry.h"

#include "pe/PeImage.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <optional>

namespace sim {

namespace {

// The preferred base inside a PE32+ optional header (signature, file header, 24 bytes).
constexpr size_t kPe32PlusImageBaseOffset = 4 + 20 + 24;

// Why an image cannot run here, or nothing when it can.
std::optional<std::string> Unloadable(const pe::PeImage &Image) {
  if (Image.Machine() != pe::kMachineAmd64 || !Image.IsPe32Plus()) {
    return "not an x64 PE32+ image";
  }
  if (Image.Subsystem() != pe::kSubsystemEfiBootServiceDriver && Image.Subsystem() != pe::kSubsystemEfiRuntimeDriver) {
    return "subsystem " + std::to_string(Image.Subsystem()) + ": only 11 and 12 are drivers";
  }
  if (Image.HasImports()) {
    return "the image imports symbols, which firmware cannot resolve";
  }
  if ((Image.Characteristics() & pe::kFileRelocationsStripped) != 0) {
    return "relocations stripped: the image runs only at its preferred base";
  }
  if (Image.SizeOfImage() == 0 || Image.SizeOfImage() > pe::kMaxMappedImageSize) {
    return "SizeOfImage " + std::to_string(Image.SizeOfImage()) + " out of range";
  }
  const UINT32 Entry = Image.AddressOfEntryPoint();
  for (const pe::Section &Each : Image.Sections()) {
    const UINT64 Span = std::max(Each.VirtualSize, Each.RawDataSize);
    if ((Each.Characteristics & pe::kSectionExecute) != 0 && Entry >= Each.VirtualAddress &&
        Entry - Each.VirtualAddress < Span) {
      return std::nullopt;
    }
  }
  return "entry point RVA " + std::to_string(Entry) + " lies in no executable section";
}

// Adds Delta to every DIR64 target of the laid-out image. Anything but DIR64 and the
// ABSOLUTE padding is refused: x64 images carry no other kind, and applying a kind this
// loader does not know would corrupt the code silently.
std::optional<std::string> Relocate(const pe::PeImage &Image, std::vector<UINT8> &Mapped, UINT64 Delta) {
  const auto Blocks = Image.RelocationBlocks();
  if (!Blocks) {
    return "malformed base relocation directory";
  }
  for (const pe::RelocationBlock &Block : *Blocks) {
    for (UINT16 Entry : Block.Entries) {
      const UINT16 Type = Entry >> 12;
      const UINT64 Target = (UINT64)Block.PageRva + (Entry & 0xFFF);
      if (Type == pe::kRelocationAbsolute) {
        continue;
      }
      if (Type != pe::kRelocationDir64) {
        return "relocation type " + std::to_string(Type) + " at RVA " + std::to_string(Target) + " is not supported";
      }
      if (Target > Mapped.size() || Mapped.size() - Target < sizeof(UINT64)) {
        return "relocation target RVA " + std::to_string(Target) + " lies outside the image";
      }
      UINT64 Value;
      std::memcpy(&Value, &Mapped[Target], sizeof Value);
      Value += Delta;
      std::memcpy(&Mapped[Target], &Value, sizeof Value);
    }
  }
  // The header then names the base the image really runs at, as the DXE core leaves it.
  const size_t BaseField = Image.PeHeaderOffset() + kPe32PlusImageBaseOffset;
  if (BaseField + sizeof(UINT64) <= std::min<size_t>(Image.SizeOfHeaders(), Mapped.size())) {
    const UINT64 NewBase = Image.ImageBase() + Delta;
    std::memcpy(&Mapped[BaseField], &NewBase, sizeof NewBase);
  }
  return std::nullopt;
}

size_t PageRounded(size_t Size) {
  const size_t Page = (size_t)sysconf(_SC_PAGESIZE);
  return (Size + Page - 1) / Page * Page;
}

}  // namespace

LoadedDriver Platform::LoadPeImage(const std::string &Path) {
  LoadedDriver Driver;
  auto Refuse = [&](const std::string &Why) {
    Fail("cannot load PE image " + Path + ": " + Why);
    return std::move(Driver);
  };

  pe::PeImage::ParseResult Parsed = pe::PeImage::Load(Path);
  if (!Parsed) {
    return Refuse(Parsed.Error);
  }
  const pe::PeImage &Image = *Parsed.Image;
  if (auto Why = Unloadable(Image)) {
    return Refuse(*Why);
  }
  auto Laid = Image.MapAtRvas();
  if (!Laid) {
    return Refuse("a section does not fit in SizeOfImage");
  }

  const size_t MappedSize = PageRounded(Image.SizeOfImage());
  void *Base = mmap(nullptr, MappedSize, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (Base == MAP_FAILED) {
    return Refuse("cannot map " + std::to_string(MappedSize) + " executable bytes");
  }
  // Owned from here on, so a refusal below unmaps it as unloading does.
  Driver.Mapping = std::shared_ptr<void>(Base, [MappedSize](void *Address) { munmap(Address, MappedSize); });

  const UINT64 Delta = reinterpret_cast<UINT64>(Base) - Image.ImageBase();
  if (auto Why = Relocate(Image, *Laid, Delta)) {
    return Refuse(*Why);
  }
  std::memcpy(Base, Laid->data(), Laid->size());

  Driver.Entry = reinterpret_cast<EFI_IMAGE_ENTRY_POINT>(static_cast<UINT8 *>(Base) + Image.AddressOfEntryPoint());
  const EFI_MEMORY_TYPE CodeType =
      Image.Subsystem() == pe::kSubsystemEfiRuntimeDriver ? EfiRuntimeServicesCode : EfiBootServicesCode;
  Driver.Image = MakeLoadedImage(SystemTable(), CodeType, Base, Image.SizeOfImage());
  if (EFI_ERROR(InstallProtocol(&Driver.Handle, gEfiLoadedImageProtocolGuid, Driver.Image.get()))) {
    Fail("cannot install the loaded-image protocol for " + Path);
  }
  return Driver;
}

}  // namespace sim
