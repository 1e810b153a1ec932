// One status code as a listener receives it, the unit the renderer reads.
#pragma once

#include <Uefi.h>

#include <optional>
#include <vector>

namespace debug_render {

struct StatusCodeReport {
  EFI_STATUS_CODE_TYPE Type;
  EFI_STATUS_CODE_VALUE Value;
  UINT32 Instance;
  std::optional<EFI_GUID> CallerId;
  std::vector<UINT8> Data;  // the whole EFI_STATUS_CODE_DATA: header and payload
};

}  // namespace debug_render
