// Boot-services pool with an account of every block. Fresh blocks are filled with a
// pattern (firmware pool is not zeroed); freed blocks are poisoned and never reused while
// the platform lives, so a use after free reads garbage (and trips ASan where it runs).
#include "ServiceEntry.h"

#include <cstdlib>
#include <cstring>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SIM_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define SIM_ASAN 1
#endif
#ifdef SIM_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace sim {

namespace {

constexpr UINT8 kFreshFill = 0xAF;
constexpr UINT8 kFreedFill = 0xDF;
// Larger requests fail as a firmware out of pool would, instead of exhausting the host.
constexpr UINTN kMaxPoolRequest = 256u * 1024 * 1024;
constexpr UINT32 kOemReservedMin = 0x70000000;

bool IsValidPoolType(UINT32 Value) {
  if (Value >= kOemReservedMin) {
    return true;
  }
  return Value < EfiMaxMemoryType && Value != EfiConventionalMemory && Value != EfiPersistentMemory;
}

}  // namespace

EFI_STATUS Platform::Impl::AllocatePool(UINT32 Type, UINTN Size, VOID **Buffer) {
  if (Buffer == nullptr || !IsValidPoolType(Type)) {
    return EFI_INVALID_PARAMETER;
  }
  if (Size > kMaxPoolRequest) {
    return EFI_OUT_OF_RESOURCES;
  }
  // Pool is 8-byte aligned; a zero-size request still gets a block of its own.
  const size_t Rounded = ((Size == 0 ? 1 : Size) + 7) & ~size_t{7};
  void *Memory = std::aligned_alloc(8, Rounded);
  if (Memory == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  std::memset(Memory, kFreshFill, Rounded);
  Blocks[Memory] = PoolBlock{Size, Type};
  LiveBytes += Size;
  if (LiveBytes > Owner.Peak) {
    Owner.Peak = LiveBytes;
  }
  *Buffer = Memory;
  return EFI_SUCCESS;
}

EFI_STATUS Platform::Impl::FreePool(VOID *Buffer) {
  auto Found = Blocks.find(Buffer);
  if (Found == Blocks.end()) {
    Fail(Severity::Unsafe, "FreePool of a pointer that pool never returned");
    return EFI_INVALID_PARAMETER;
  }
  PoolBlock &Block = Found->second;
  if (!Block.Live) {
    Fail(Severity::Unsafe, "FreePool of a block already freed (double free)");
    return EFI_INVALID_PARAMETER;
  }
  Block.Live = false;
  LiveBytes -= Block.Size;
  std::memset(Buffer, kFreedFill, Block.Size);
#ifdef SIM_ASAN
  ASAN_POISON_MEMORY_REGION(Buffer, Block.Size == 0 ? 1 : Block.Size);
#endif
  return EFI_SUCCESS;
}

void Platform::Impl::ReportLeaks() {
  for (auto &[Address, Block] : Blocks) {
    if (Block.Live && !Block.Reported) {
      Block.Reported = true;
      Fail(Severity::Unsafe,
           "pool block leaked: " + std::to_string(Block.Size) + " bytes of memory type " + std::to_string(Block.Type));
    }
  }
}

void Platform::Impl::ReleaseAllPool() {
  for (auto &[Address, Block] : Blocks) {
#ifdef SIM_ASAN
    if (!Block.Live) {
      ASAN_UNPOISON_MEMORY_REGION(Address, Block.Size == 0 ? 1 : Block.Size);
    }
#endif
    std::free(const_cast<VOID *>(Address));
  }
  Blocks.clear();
}

size_t Platform::LiveAllocations() const {
  size_t Count = 0;
  for (const auto &[Address, Block] : State_->Blocks) {
    Count += Block.Live ? 1 : 0;
  }
  return Count;
}

size_t Platform::LiveAllocations(UINT32 Type) const {
  size_t Count = 0;
  for (const auto &[Address, Block] : State_->Blocks) {
    Count += Block.Live && Block.Type == Type ? 1 : 0;
  }
  return Count;
}

std::optional<UINT32> Platform::PoolTypeOf(UINT64 Address) const {
  for (const auto &[Start, Block] : State_->Blocks) {
    UINT64 Base = reinterpret_cast<UINT64>(Start);
    if (Block.Live && Address >= Base && Address - Base < (Block.Size == 0 ? 1 : Block.Size)) {
      return Block.Type;
    }
  }
  return std::nullopt;
}

size_t Platform::LiveBytes() const { return State_->LiveBytes; }

void Platform::ExpectNoLeaks() { State_->ReportLeaks(); }

namespace {

EFI_STATUS EFIAPI SimAllocatePool(EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer) {
  return BootService("AllocatePool", [&](Platform::Impl &S) { return S.AllocatePool(RawEnum(Type), Size, Buffer); });
}

EFI_STATUS EFIAPI SimFreePool(VOID *Buffer) {
  return BootService("FreePool", [&](Platform::Impl &S) { return S.FreePool(Buffer); });
}

}  // namespace

void FillPoolServices(EFI_BOOT_SERVICES &Bs) {
  Bs.AllocatePool = SimAllocatePool;
  Bs.FreePool = SimFreePool;
}

}  // namespace sim
