// Time-stamp-counter timer. The frequency comes from the GUID HOB that the PEI phase leaves;
// neither driver measures time, so no calibration against another clock is attempted and a
// missing HOB leaves the frequency unknown (0).
#include <Uefi.h>
#include <Library/BaseLib.h>
#include <Library/HobLib.h>
#include <Library/TimerLib.h>

static constexpr EFI_GUID gEfiTscFrequencyGuid = {
    0xDBA6A7E3, 0xBB57, 0x4BE7, {0x8A, 0xF8, 0xD5, 0x78, 0xDB, 0x7E, 0x56, 0x87}};

UINT64 mTscFrequency = 0;

EFI_STATUS DxeTscTimerLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  VOID *GuidHob;

  mTscFrequency = 0;
  GuidHob = GetFirstGuidHob(&gEfiTscFrequencyGuid);
  if (GuidHob != NULL && GET_GUID_HOB_DATA_SIZE(GuidHob) >= sizeof(UINT64)) {
    mTscFrequency = ReadUnaligned64(GET_GUID_HOB_DATA(GuidHob));
  }
  return EFI_SUCCESS;
}

UINT64 GetPerformanceCounterProperties(UINT64 *StartValue, UINT64 *EndValue) {
  if (StartValue != NULL) {
    *StartValue = 0;
  }
  if (EndValue != NULL) {
    *EndValue = 0xFFFFFFFFFFFFFFFFULL;
  }
  return mTscFrequency;
}
