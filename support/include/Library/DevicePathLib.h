#pragma once
#include <Uefi.h>

inline UINT8 DevicePathType(CONST VOID *Node) { return ((CONST EFI_DEVICE_PATH_PROTOCOL *)Node)->Type; }
inline UINT8 DevicePathSubType(CONST VOID *Node) { return ((CONST EFI_DEVICE_PATH_PROTOCOL *)Node)->SubType; }
inline UINTN DevicePathNodeLength(CONST VOID *Node) {
  CONST UINT8 *Length = ((CONST EFI_DEVICE_PATH_PROTOCOL *)Node)->Length;
  return (UINTN)Length[0] | ((UINTN)Length[1] << 8);
}
inline EFI_DEVICE_PATH_PROTOCOL *NextDevicePathNode(CONST VOID *Node) {
  return (EFI_DEVICE_PATH_PROTOCOL *)((CONST UINT8 *)Node + DevicePathNodeLength(Node));
}
inline BOOLEAN IsDevicePathEnd(CONST VOID *Node) {
  return DevicePathType(Node) == END_DEVICE_PATH_TYPE && DevicePathSubType(Node) == END_ENTIRE_DEVICE_PATH_SUBTYPE;
}
