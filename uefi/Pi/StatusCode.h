// PI status-code types and the EFI_STATUS_CODE_DATA header that precedes extended data.
#pragma once
#include "../Guid.h"

typedef UINT32 EFI_STATUS_CODE_TYPE;
typedef UINT32 EFI_STATUS_CODE_VALUE;

#define EFI_STATUS_CODE_TYPE_MASK 0x000000FF
#define EFI_PROGRESS_CODE 0x00000001
#define EFI_ERROR_CODE 0x00000002
#define EFI_DEBUG_CODE 0x00000003
#define EFI_ERROR_UNRECOVERED 0x90000000

#define EFI_SOFTWARE_DXE_BS_DRIVER 0x03050000
#define EFI_DC_UNSPECIFIED 0x0
#define EFI_SW_EC_ILLEGAL_SOFTWARE_STATE 0x00000007

inline constexpr EFI_GUID gEfiStatusCodeSpecificDataGuid = {
    0x335984BD, 0xE805, 0x409A, {0xB8, 0xF8, 0xD2, 0x7E, 0xCE, 0x5F, 0xF7, 0xA6}};
inline constexpr EFI_GUID gEfiStatusCodeDataTypeDebugGuid = {
    0x9A4E9246, 0xD553, 0x11D5, {0x87, 0xE2, 0x00, 0x06, 0x29, 0x45, 0xC3, 0xB9}};

#pragma pack(push, 1)
struct EFI_STATUS_CODE_DATA {
  UINT16 HeaderSize;
  UINT16 Size;
  EFI_GUID Type;
};
#pragma pack(pop)
static_assert(sizeof(EFI_STATUS_CODE_DATA) == 20, "status code data header");
static_assert(OFFSET_OF(EFI_STATUS_CODE_DATA, Type) == 4, "status code data header");
