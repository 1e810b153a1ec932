// Image handles: each carries EFI_LOADED_IMAGE_PROTOCOL, as the DXE core's loader
// installs it, so a driver can find its own code and data memory types.
#include "ServiceEntry.h"

namespace sim {

EFI_MEMORY_TYPE DataTypeFor(EFI_MEMORY_TYPE CodeType) {
  switch (CodeType) {
    case EfiRuntimeServicesCode:
      return EfiRuntimeServicesData;
    case EfiLoaderCode:
      return EfiLoaderData;
    default:
      return EfiBootServicesData;
  }
}

std::unique_ptr<EFI_LOADED_IMAGE_PROTOCOL> MakeLoadedImage(EFI_SYSTEM_TABLE *SystemTable, EFI_MEMORY_TYPE CodeType,
                                                           VOID *ImageBase, UINT64 ImageSize) {
  auto Image = std::make_unique<EFI_LOADED_IMAGE_PROTOCOL>();
  Image->Revision = EFI_LOADED_IMAGE_PROTOCOL_REVISION;
  Image->SystemTable = SystemTable;
  Image->ImageBase = ImageBase;
  Image->ImageSize = ImageSize;
  Image->ImageCodeType = CodeType;
  Image->ImageDataType = DataTypeFor(CodeType);
  return Image;
}

EFI_HANDLE Platform::CreateImageHandle(EFI_MEMORY_TYPE CodeType, VOID *ImageBase, UINT64 ImageSize) {
  auto Image = MakeLoadedImage(SystemTable(), CodeType, ImageBase, ImageSize);
  EFI_HANDLE Handle = nullptr;
  if (EFI_ERROR(InstallProtocol(&Handle, gEfiLoadedImageProtocolGuid, Image.get()))) {
    Fail("could not install the loaded-image protocol on a new image handle");
    return nullptr;
  }
  State_->TestImages.push_back(std::move(Image));
  return Handle;
}

}  // namespace sim
