// The file-system protocols the harness reads its images through. Only the harness
// needs them, so they live beside it rather than among the drivers' definitions.
#pragma once
#include <Uefi.h>

inline constexpr EFI_GUID gEfiSimpleFileSystemProtocolGuid = {
    0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

#define EFI_FILE_MODE_READ 0x0000000000000001ULL
// SetPosition to this value moves to the end of the file, which is how the size is learnt
// without EFI_FILE_INFO.
#define EFI_FILE_POSITION_END_OF_FILE 0xFFFFFFFFFFFFFFFFULL

struct EFI_FILE_PROTOCOL {
  UINT64 Revision;
  EFI_STATUS(EFIAPI *Open)
  (EFI_FILE_PROTOCOL *This, EFI_FILE_PROTOCOL **NewHandle, CONST CHAR16 *FileName, UINT64 OpenMode, UINT64 Attributes);
  EFI_STATUS(EFIAPI *Close)(EFI_FILE_PROTOCOL *This);
  EFI_STATUS(EFIAPI *Delete)(EFI_FILE_PROTOCOL *This);
  EFI_STATUS(EFIAPI *Read)(EFI_FILE_PROTOCOL *This, UINTN *BufferSize, VOID *Buffer);
  EFI_STATUS(EFIAPI *Write)(EFI_FILE_PROTOCOL *This, UINTN *BufferSize, VOID *Buffer);
  EFI_STATUS(EFIAPI *GetPosition)(EFI_FILE_PROTOCOL *This, UINT64 *Position);
  EFI_STATUS(EFIAPI *SetPosition)(EFI_FILE_PROTOCOL *This, UINT64 Position);
  EFI_STATUS(EFIAPI *GetInfo)
  (EFI_FILE_PROTOCOL *This, CONST EFI_GUID *InformationType, UINTN *BufferSize, VOID *Buffer);
  EFI_STATUS(EFIAPI *SetInfo)(EFI_FILE_PROTOCOL *This, CONST EFI_GUID *InformationType, UINTN BufferSize, VOID *Buffer);
  EFI_STATUS(EFIAPI *Flush)(EFI_FILE_PROTOCOL *This);
  // Revision 2 adds OpenEx, ReadEx, WriteEx and FlushEx, which the harness never calls.
};
static_assert(OFFSET_OF(EFI_FILE_PROTOCOL, Open) == 8, "file protocol layout");
static_assert(OFFSET_OF(EFI_FILE_PROTOCOL, Read) == 32, "file protocol layout");
static_assert(OFFSET_OF(EFI_FILE_PROTOCOL, SetPosition) == 56, "file protocol layout");
static_assert(OFFSET_OF(EFI_FILE_PROTOCOL, Flush) == 80, "file protocol layout");

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {
  UINT64 Revision;
  EFI_STATUS(EFIAPI *OpenVolume)(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *This, EFI_FILE_PROTOCOL **Root);
};
static_assert(sizeof(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL) == 16, "file system protocol layout");
EFI_PROTOCOL_GUID(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL, gEfiSimpleFileSystemProtocolGuid);
