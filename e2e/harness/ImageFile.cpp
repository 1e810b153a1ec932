#include "ImageFile.h"
#include "SimpleFileSystem.h"

static EFI_STATUS OpenOwnVolume(EFI_HANDLE HarnessImage, EFI_BOOT_SERVICES *BootServices, EFI_FILE_PROTOCOL **Root) {
  EFI_LOADED_IMAGE_PROTOCOL *LoadedImage = NULL;
  EFI_STATUS Status = BootServices->HandleProtocol(HarnessImage, &gEfiLoadedImageProtocolGuid, (VOID **)&LoadedImage);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *FileSystem = NULL;
  Status =
      BootServices->HandleProtocol(LoadedImage->DeviceHandle, &gEfiSimpleFileSystemProtocolGuid, (VOID **)&FileSystem);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  return FileSystem->OpenVolume(FileSystem, Root);
}

static EFI_STATUS MeasureFile(EFI_FILE_PROTOCOL *File, UINTN *Size) {
  UINT64 End = 0;
  EFI_STATUS Status = File->SetPosition(File, EFI_FILE_POSITION_END_OF_FILE);
  if (!EFI_ERROR(Status)) {
    Status = File->GetPosition(File, &End);
  }
  if (!EFI_ERROR(Status)) {
    Status = File->SetPosition(File, 0);
  }
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (End == 0 || End > IMAGE_FILE_MAX_SIZE) {
    return EFI_BAD_BUFFER_SIZE;
  }
  *Size = (UINTN)End;
  return EFI_SUCCESS;
}

// Read may return fewer bytes than asked; a read of nothing before the end is an error.
static EFI_STATUS ReadAll(EFI_FILE_PROTOCOL *File, UINT8 *Buffer, UINTN Size) {
  UINTN Done = 0;
  while (Done < Size) {
    UINTN Chunk = Size - Done;
    EFI_STATUS Status = File->Read(File, &Chunk, Buffer + Done);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    if (Chunk == 0 || Chunk > Size - Done) {
      return EFI_END_OF_FILE;
    }
    Done += Chunk;
  }
  return EFI_SUCCESS;
}

EFI_STATUS ReadImageFile(EFI_HANDLE HarnessImage, EFI_SYSTEM_TABLE *SystemTable, CONST CHAR16 *Path, VOID **Buffer,
                         UINTN *Size) {
  EFI_BOOT_SERVICES *BootServices = SystemTable->BootServices;
  *Buffer = NULL;
  *Size = 0;

  EFI_FILE_PROTOCOL *Root = NULL;
  EFI_STATUS Status = OpenOwnVolume(HarnessImage, BootServices, &Root);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  EFI_FILE_PROTOCOL *File = NULL;
  Status = Root->Open(Root, &File, Path, EFI_FILE_MODE_READ, 0);
  if (EFI_ERROR(Status)) {
    Root->Close(Root);
    return Status;
  }

  UINTN FileSize = 0;
  VOID *Data = NULL;
  Status = MeasureFile(File, &FileSize);
  if (!EFI_ERROR(Status)) {
    Status = BootServices->AllocatePool(EfiBootServicesData, FileSize, &Data);
  }
  if (!EFI_ERROR(Status)) {
    Status = ReadAll(File, (UINT8 *)Data, FileSize);
    if (EFI_ERROR(Status)) {
      BootServices->FreePool(Data);
      Data = NULL;
    }
  }
  File->Close(File);
  Root->Close(Root);

  if (!EFI_ERROR(Status)) {
    *Buffer = Data;
    *Size = FileSize;
  }
  return Status;
}
