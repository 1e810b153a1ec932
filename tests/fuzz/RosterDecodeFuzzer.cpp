// The decoder the management side runs on whatever arrived: an inventory image, a SATA_INFO
// message, a board report or none of these. Each file decodes, prints as text and as JSON
// without a crash, and a file the decoder calls clean is one it can decode again unchanged.
#include <DecodeFile.h>
#include <JsonPrinter.h>
#include <TextPrinter.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  RosterDecode::ByteView Input(Data, Size);
  RosterDecode::FileFacts File = RosterDecode::DecodeFile("fuzz.bin", Input);
  std::ostringstream Text;
  RosterDecode::PrintText(Text, File);

  // Decoding is a function of the bytes: the same input gives the same verdict and text.
  RosterDecode::FileFacts Again = RosterDecode::DecodeFile("fuzz.bin", Input);
  std::ostringstream TextAgain;
  RosterDecode::PrintText(TextAgain, Again);
  FUZZ_CHECK(RosterDecode::HasProblems(File) == RosterDecode::HasProblems(Again));
  FUZZ_CHECK(Text.str() == TextAgain.str());

  // The facts are handed over rather than copied: a whole inventory is thousands of strings.
  std::vector<RosterDecode::FileFacts> Files;
  Files.push_back(std::move(File));
  const std::string Json = RosterDecode::JsonDocument(Files);
  FUZZ_CHECK(!Json.empty() && (Json.front() == '{' || Json.front() == '['));
  return 0;
}
