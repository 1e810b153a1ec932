// The run-time level mask: taken once from "DebugMessageConfig" (or the early-boot HOB while
// variable services are not up yet), cached, and published through the debug-mask protocol
// on the image handle.
#include <Uefi.h>
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/DebugPrintErrorLevelLib.h>
#include <Library/HobLib.h>
#include <Guid/DebugMessageConfig.h>
#include "DebugMessageConfig.h"

static EFI_STATUS EFIAPI GetDebugMask(EFI_DEBUG_MASK_PROTOCOL *This, UINTN *CurrentDebugMask);
static EFI_STATUS EFIAPI SetDebugMask(EFI_DEBUG_MASK_PROTOCOL *This, UINTN NewDebugMask);

UINT32 mDebugLevelMask = PcdDebugPrintErrorLevel;
BOOLEAN mDebugLevelQueried = FALSE;
EFI_SYSTEM_TABLE *mDebugLevelSystemTable = NULL;
EFI_EVENT mDebugLevelExitBootServicesEvent = NULL;
BOOLEAN mDebugLevelBootServicesEnded = FALSE;
static BOOLEAN mDebugLevelLookupActive = FALSE;
EFI_DEBUG_MASK_PROTOCOL mDebugMaskProtocol = {EFI_DEBUG_MASK_REVISION, GetDebugMask, SetDebugMask};
UINT32 gDebugPrintSettledMask = DEBUG_PRINT_MASK_UNSETTLED;

// The early-boot HOB carries the mask itself in the first 4 of exactly 8 data bytes.
static constexpr UINT16 kDebugMessageConfigHobDataSize = 8;

// Once the mask can no longer change by itself, callers may filter with it directly.
static VOID PublishSettledMask(VOID) {
  gDebugPrintSettledMask =
      (mDebugLevelQueried || mDebugLevelBootServicesEnded) ? mDebugLevelMask : DEBUG_PRINT_MASK_UNSETTLED;
}

static VOID EFIAPI DebugLevelExitBootServicesNotify(EFI_EVENT Event, VOID *Context) {
  mDebugLevelBootServicesEnded = TRUE;
  PublishSettledMask();
}

// Reads "DebugMessageConfig", or the early-boot HOB while variable services are not up
// yet, and settles the mask when either gives one.
static VOID ReadDebugLevel(VOID) {
  EFI_BOOT_SERVICES *BootServices;
  EFI_TPL CurrentTpl;
  UINTN Size;
  EFI_STATUS Status;
  UINT8 Config[kDebugMessageConfigSize];

  // Variable services may be read only at TPL_CALLBACK or below; a later message tries again.
  BootServices = mDebugLevelSystemTable->BootServices;
  CurrentTpl = BootServices->RaiseTPL(TPL_HIGH_LEVEL);
  BootServices->RestoreTPL(CurrentTpl);
  if (CurrentTpl > TPL_CALLBACK) {
    return;
  }

  // Zeroed first: a shorter record reads its missing switches as off.
  ZeroMem(Config, sizeof(Config));
  Size = sizeof(Config);
  Status = mDebugLevelSystemTable->RuntimeServices->GetVariable(kDebugMessageConfigName, &gDebugMessageConfigGuid, NULL,
                                                                &Size, Config);
  if (Status == EFI_NOT_AVAILABLE_YET) {
    VOID *GuidHob = GetFirstGuidHob(&gDebugMessageConfigGuid);
    if (GuidHob != NULL && GET_GUID_HOB_DATA_SIZE(GuidHob) == kDebugMessageConfigHobDataSize) {
      mDebugLevelMask = ReadUnaligned32(GET_GUID_HOB_DATA(GuidHob));
      mDebugLevelQueried = TRUE;
      PublishSettledMask();
    }
    return;
  }

  mDebugLevelQueried = TRUE;
  if (!EFI_ERROR(Status)) {
    mDebugLevelMask = DecodeDebugMessageConfig(Config);
  }
  PublishSettledMask();
}

UINT32 GetDebugPrintErrorLevel(VOID) {
  // Settled first: the common case, one load and one test. Settling needs the system table,
  // so a settled mask never stands in for the build default of an unset library.
  if (mDebugLevelQueried) {
    return mDebugLevelMask;
  }
  if (mDebugLevelSystemTable == NULL) {
    return PcdDebugPrintErrorLevel;
  }
  // Past ExitBootServices no boot service may be called: the cache answers.
  if (mDebugLevelBootServicesEnded) {
    return mDebugLevelMask;
  }
  // The lookup can print: without a HOB list the HOB lookup asserts, and the assertion's
  // DEBUG asks for the level again. The mask known so far answers that inner question, so
  // the two cannot recurse until the stack runs out.
  if (mDebugLevelLookupActive) {
    return mDebugLevelMask;
  }

  mDebugLevelLookupActive = TRUE;
  ReadDebugLevel();
  mDebugLevelLookupActive = FALSE;
  return mDebugLevelMask;
}

static EFI_STATUS EFIAPI GetDebugMask(EFI_DEBUG_MASK_PROTOCOL *This, UINTN *CurrentDebugMask) {
  if (CurrentDebugMask == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  *CurrentDebugMask = mDebugLevelMask;
  return EFI_SUCCESS;
}

// Leaves the pending state alone: a variable read later still replaces this mask.
static EFI_STATUS EFIAPI SetDebugMask(EFI_DEBUG_MASK_PROTOCOL *This, UINTN NewDebugMask) {
  mDebugLevelMask = (UINT32)NewDebugMask;
  PublishSettledMask();
  return EFI_SUCCESS;
}

EFI_STATUS DebugPrintErrorLevelLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_BOOT_SERVICES *BootServices;
  EFI_HANDLE Handle;
  EFI_STATUS Status;

  mDebugLevelSystemTable = SystemTable;
  mDebugLevelMask = PcdDebugPrintErrorLevel;
  PublishSettledMask();
  if (SystemTable == NULL || SystemTable->BootServices == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  BootServices = SystemTable->BootServices;

  Handle = ImageHandle;
  Status = BootServices->InstallMultipleProtocolInterfaces(&Handle, &gEfiDebugMaskProtocolGuid, &mDebugMaskProtocol,
                                                           (VOID *)NULL);
  if (!EFI_ERROR(Status)) {
    Status = BootServices->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, DebugLevelExitBootServicesNotify, NULL,
                                         &gEfiEventExitBootServicesGuid, &mDebugLevelExitBootServicesEvent);
    if (EFI_ERROR(Status)) {
      mDebugLevelExitBootServicesEvent = NULL;
    }
  }

  // Settle the mask before the driver's own code prints anything.
  GetDebugPrintErrorLevel();
  return Status;
}

// The event is closed once at most: a second destructor call finds it gone.
EFI_STATUS DebugPrintErrorLevelLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_BOOT_SERVICES *BootServices;

  if (SystemTable == NULL || SystemTable->BootServices == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  BootServices = SystemTable->BootServices;
  if (mDebugLevelExitBootServicesEvent != NULL) {
    BootServices->CloseEvent(mDebugLevelExitBootServicesEvent);
    mDebugLevelExitBootServicesEvent = NULL;
  }
  return BootServices->UninstallMultipleProtocolInterfaces(ImageHandle, &gEfiDebugMaskProtocolGuid, &mDebugMaskProtocol,
                                                           (VOID *)NULL);
}
