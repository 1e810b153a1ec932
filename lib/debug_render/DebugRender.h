// What a platform's status-code listener makes of the drivers' reports, as EDK II's serial
// listener prints them: debug records formatted from their format string and packed slots
// (BasePrintLib rules, "%r" names, upper-case hex, a 200-byte line buffer), assert records
// decoded to file, line and description.
// The host's one reading of the debug-message format: the simulator's listener
// (sim/DebugTranscript), the debug-render tool and through it the real-firmware runs.
//
// Pointer arguments (%a %s %g %t) point into the reporter's memory, valid only while the
// report is being made: a live listener renders each report at that moment.
#pragma once

#include <Uefi.h>
#include <DebugRecords.h>

#include "StatusCodeReport.h"

#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace debug_render {

struct DebugMessage {
  UINT32 ErrorLevel;
  std::array<UINT64, kDebugInfoSlotCount> Slots;
  std::string Format;
};

struct AssertMessage {
  std::string FileName;
  UINT32 LineNumber;
  std::string Description;
};

// Recognised as EDK II's listeners do: a debug record by its data-type GUID, an assert
// record by its type and value. Bounded by the recorded bytes.
std::optional<DebugMessage> DecodeDebugMessage(const StatusCodeReport &Report);
std::optional<AssertMessage> DecodeAssertMessage(const StatusCodeReport &Report);

// Follow reads what a pointer argument (%a %s %S %g %t) points to, which only a listener
// running while the report is made can do. AddressOnly prints "<a@0x1234>" instead, for
// records read back after the reporter is gone (a capture from real firmware).
enum class PointerArguments { Follow, AddressOnly };

// AsciiBSPrint of Format over the slots into a buffer of Capacity bytes (so at most
// Capacity - 1 characters); '\n' in the format leaves as "\r\n".
std::string FormatDebugMessage(std::string_view Format, std::span<const UINT64> Slots,
                               size_t Capacity = kStatusCodeDataMaxSize,
                               PointerArguments Pointers = PointerArguments::Follow);

// The listener's text for one report, with its "\r\n" and "\n\r" line ends.
std::string RenderStatusCode(const StatusCodeReport &Report, PointerArguments Pointers = PointerArguments::Follow);

// The same text with every line end as a plain "\n", so expected transcripts read naturally.
std::string PlainLineEnds(std::string_view Text);

}  // namespace debug_render
