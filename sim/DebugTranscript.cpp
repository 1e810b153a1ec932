#include "DebugTranscript.h"

namespace sim {

namespace {

DebugTranscript *gLiveTranscript = nullptr;

}  // namespace

DebugTranscript::DebugTranscript(Platform &P) {
  if (gLiveTranscript != nullptr) {
    Fail("a second DebugTranscript while one is live");
    return;
  }
  std::vector<EFI_HANDLE> Handles = P.HandlesWith(gEfiStatusCodeRuntimeProtocolGuid);
  if (Handles.empty()) {
    Fail("DebugTranscript: the platform has no status-code protocol");
    return;
  }
  Protocol = static_cast<EFI_STATUS_CODE_PROTOCOL *>(P.InterfaceOn(Handles.front(), gEfiStatusCodeRuntimeProtocolGuid));
  Original = Protocol->ReportStatusCode;
  Protocol->ReportStatusCode = &DebugTranscript::Report;
  gLiveTranscript = this;
}

DebugTranscript::~DebugTranscript() {
  if (gLiveTranscript == this) {
    Protocol->ReportStatusCode = Original;
    gLiveTranscript = nullptr;
  }
}

EFI_STATUS EFIAPI DebugTranscript::Report(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                                          CONST EFI_GUID *CallerId, EFI_STATUS_CODE_DATA *Data) {
  DebugTranscript *Self = gLiveTranscript;
  if (Self == nullptr) {
    return EFI_UNSUPPORTED;
  }
  // Rendered while the reporter's memory is alive, from the same bytes the platform records.
  StatusCodeReport Copy{Type, Value, Instance, std::nullopt, {}};
  if (CallerId != nullptr) {
    Copy.CallerId = *CallerId;
  }
  if (Data != nullptr && Data->HeaderSize >= sizeof(EFI_STATUS_CODE_DATA)) {
    const auto *Bytes = reinterpret_cast<const UINT8 *>(Data);
    Copy.Data.assign(Bytes, Bytes + Data->HeaderSize + Data->Size);
  }
  bool Printed = debug_render::DecodeAssertMessage(Copy) || debug_render::DecodeDebugMessage(Copy);
  Self->Rendered.push_back(Printed ? debug_render::PlainLineEnds(debug_render::RenderStatusCode(Copy)) : std::string());
  return Self->Original(Type, Value, Instance, CallerId, Data);
}

std::string DebugTranscript::Text() const {
  std::string All;
  for (const std::string &Piece : Rendered) {
    All += Piece;
  }
  return All;
}

std::vector<std::string> DebugTranscript::Lines() const {
  std::vector<std::string> Result;
  std::string All = Text();
  size_t Start = 0;
  for (size_t End; (End = All.find('\n', Start)) != std::string::npos; Start = End + 1) {
    Result.push_back(All.substr(Start, End - Start));
  }
  if (Start < All.size()) {
    Result.push_back(All.substr(Start));
  }
  return Result;
}

}  // namespace sim
