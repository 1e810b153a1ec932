// Loads and starts one image from the application's own volume, as the DXE dispatcher
// would, keeping what each step returned for the caller's report.
#pragma once
#include <Uefi.h>

// A step that never ran keeps Ran FALSE and the value it was given before the attempt.
struct IMAGE_LOAD_STEP {
  BOOLEAN Ran;
  UINT64 Value;
};

struct IMAGE_LOAD_RESULT {
  IMAGE_LOAD_STEP Read;
  IMAGE_LOAD_STEP FileSize;
  IMAGE_LOAD_STEP Load;
  IMAGE_LOAD_STEP Start;
  // From the loaded-image protocol, read before the start: the firmware unloads an image
  // whose entry point fails.
  IMAGE_LOAD_STEP ImageSize;
  IMAGE_LOAD_STEP CodeType;
  // The image's handle when it started without error, else NULL.
  EFI_HANDLE Handle;
};

// Before any step: sizes 0, load and start EFI_NOT_STARTED.
VOID LoadAndStartImageFile(EFI_HANDLE Application, EFI_SYSTEM_TABLE *SystemTable, CONST CHAR16 *Path,
                           IMAGE_LOAD_RESULT *Result);
