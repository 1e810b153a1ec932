// The debug level lookup over a "DebugMessageConfig" of any size and content, and over
// the early-boot HOB when variables are not available yet, through the real constructor,
// lookup and destructor in a simulated platform.
//
// Input: byte 0 picks the path (bit 0: variable not available yet, bit 1: no variable at
// all), byte 1 the variable or HOB data size, the rest the bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <DebugMessageConfig.h>
#include <Guid/DebugMessageConfig.h>
#include <Library/DebugPrintErrorLevelLib.h>
#include <Library/HobLib.h>
#include <Library/DebugLib.h>
#include <Library/PcdLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <sim/Hob.h>
#include <sim/Platform.h>

#include <cstring>
#include <vector>

#include "FuzzInput.h"

extern UINT32 mDebugLevelMask;
extern BOOLEAN mDebugLevelQueried;
extern BOOLEAN mDebugLevelBootServicesEnded;
extern VOID *mHobList;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  FuzzedDataProvider Input(Data, Size);
  const uint8_t Path = Input.ConsumeIntegral<uint8_t>();
  const size_t RecordSize = Input.ConsumeIntegralInRange<size_t>(0, 64);
  std::vector<UINT8> Record = Input.ConsumeBytes<UINT8>(RecordSize);
  const bool NotAvailableYet = (Path & 1) != 0;
  // A variable always holds data: SetVariable with no data deletes it.
  const bool NoVariable = (Path & 2) != 0 || Record.empty();

  sim::Platform P;
  sim::Platform::BindHostHooks(&gArchHostHooks);
  sim::HobListBuilder Hobs;
  if (NotAvailableYet) {
    Hobs.AddUnpaddedGuidHob(gDebugMessageConfigGuid, Record);
  }
  P.SetHobList(Hobs.Build());
  if (!NoVariable) {
    P.Variables().Put(kDebugMessageConfigName, gDebugMessageConfigGuid,
                      EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS, Record);
  }
  P.Variables().SetNotAvailableYet(NotAvailableYet);

  // Fresh module state, as a newly loaded image has.
  mDebugLevelMask = PcdDebugPrintErrorLevel;
  mDebugLevelQueried = FALSE;
  mDebugLevelBootServicesEnded = FALSE;
  mHobList = nullptr;
  EFI_HANDLE Image = P.CreateImageHandle(EfiBootServicesCode);
  gST = P.SystemTable();
  gBS = P.BootServices();
  gImageHandle = Image;

  FUZZ_CHECK(!EFI_ERROR(DebugPrintErrorLevelLibConstructor(Image, P.SystemTable())));
  const UINT32 Mask = GetDebugPrintErrorLevel();

  if (NotAvailableYet) {
    // Only a HOB of exactly 8 data bytes carries a mask; anything else keeps the default.
    UINT32 Expected = PcdDebugPrintErrorLevel;
    if (Record.size() == 8) {
      std::memcpy(&Expected, Record.data(), sizeof(Expected));
    }
    FUZZ_CHECK(Mask == Expected);
  } else if (NoVariable || Record.size() > kDebugMessageConfigSize) {
    FUZZ_CHECK(Mask == PcdDebugPrintErrorLevel);
  } else {
    // A shorter record reads its missing bytes as off.
    UINT8 Padded[kDebugMessageConfigSize] = {};
    std::memcpy(Padded, Record.data(), Record.size());
    FUZZ_CHECK(Mask == DecodeDebugMessageConfig(Padded));
  }
  // The answer is settled once read, and the next lookup reads nothing again.
  const unsigned Reads = P.Faults().Count("GetVariable");
  FUZZ_CHECK(GetDebugPrintErrorLevel() == Mask);
  FUZZ_CHECK(NotAvailableYet || P.Faults().Count("GetVariable") == Reads);

  DebugPrintErrorLevelLibDestructor(Image, P.SystemTable());
  gST = nullptr;
  gBS = nullptr;
  return 0;
}
