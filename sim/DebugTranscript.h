// The simulator's status-code listener: renders each report of a live platform as EDK II's
// serial listener prints it, at the moment it is made (lib/debug_render does the rendering).
#pragma once

#include <Uefi.h>
#include <debug_render/DebugRender.h>

#include "Platform.h"

#include <string>
#include <vector>

namespace sim {

// Renders every report of the live platform at the moment it is made, for as long as it
// lives (attach it before the driver starts). One at a time.
class DebugTranscript {
 public:
  explicit DebugTranscript(Platform &P);
  ~DebugTranscript();
  DebugTranscript(const DebugTranscript &) = delete;
  DebugTranscript &operator=(const DebugTranscript &) = delete;

  // Each report's text (plain line ends), in order; empty for reports no listener prints.
  const std::vector<std::string> &Texts() const { return Rendered; }
  // All text as it would appear on the console, one entry per line (a message without a
  // line end runs on into the next one, as on a real port). A final unterminated line is kept.
  std::vector<std::string> Lines() const;
  std::string Text() const;
  void Clear() { Rendered.clear(); }

 private:
  static EFI_STATUS EFIAPI Report(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                                  CONST EFI_GUID *CallerId, EFI_STATUS_CODE_DATA *Data);
  EFI_STATUS_CODE_PROTOCOL *Protocol = nullptr;
  EFI_REPORT_STATUS_CODE Original = nullptr;
  std::vector<std::string> Rendered;
};

}  // namespace sim
