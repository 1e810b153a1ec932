// PI's SMM access protocol (EFI_MM_ACCESS_PROTOCOL under its SMM name), produced in the
// DXE protocol database by the memory controller's driver: where MMRAM is.
#pragma once
#include "../Pi/PiMmCis.h"

inline constexpr EFI_GUID gEfiSmmAccess2ProtocolGuid = {
    0xC2702B74, 0x800C, 0x4131, {0x87, 0x46, 0x8F, 0xB5, 0xB8, 0x9C, 0xE4, 0xAC}};

struct EFI_SMM_ACCESS2_PROTOCOL {
  EFI_STATUS(EFIAPI *Open)(EFI_SMM_ACCESS2_PROTOCOL *This);
  EFI_STATUS(EFIAPI *Close)(EFI_SMM_ACCESS2_PROTOCOL *This);
  EFI_STATUS(EFIAPI *Lock)(EFI_SMM_ACCESS2_PROTOCOL *This);
  // MmramMapSize in bytes; EFI_BUFFER_TOO_SMALL with the size needed when MmramMap is short.
  EFI_STATUS(EFIAPI *GetCapabilities)
  (CONST EFI_SMM_ACCESS2_PROTOCOL *This, UINTN *MmramMapSize, EFI_MMRAM_DESCRIPTOR *MmramMap);
  BOOLEAN LockState;
  BOOLEAN OpenState;
};
static_assert(sizeof(EFI_SMM_ACCESS2_PROTOCOL) == 40, "SMM access 2 layout");
static_assert(OFFSET_OF(EFI_SMM_ACCESS2_PROTOCOL, GetCapabilities) == 24, "SMM access 2 layout");
static_assert(OFFSET_OF(EFI_SMM_ACCESS2_PROTOCOL, LockState) == 32, "SMM access 2 layout");
static_assert(OFFSET_OF(EFI_SMM_ACCESS2_PROTOCOL, OpenState) == 33, "SMM access 2 layout");
EFI_PROTOCOL_GUID(EFI_SMM_ACCESS2_PROTOCOL, gEfiSmmAccess2ProtocolGuid);
