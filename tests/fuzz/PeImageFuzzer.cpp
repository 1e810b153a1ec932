// The host PE reader over any file: it refuses with a reason or gives an image whose every
// view stays inside the file. What it maps or points at must be bytes of the file.
#include <pe/PeImage.h>

#include <cstring>

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  pe::PeImage::ParseResult Result = pe::PeImage::Parse(std::span<const uint8_t>(Data, Size));
  if (!Result) {
    FUZZ_CHECK(!Result.Error.empty());
    return 0;
  }
  const pe::PeImage &Image = *Result.Image;
  FUZZ_CHECK(Image.Bytes().size() == Size);
  for (const pe::Section &Section : Image.Sections()) {
    if (auto Bytes = Image.BytesAtRva(Section.VirtualAddress, 1)) {
      FUZZ_CHECK(Bytes->data() >= Image.Bytes().data() && Bytes->data() + Bytes->size() <= Image.Bytes().data() + Size);
    }
  }
  (void)Image.DebugEntries();
  if (auto CodeView = Image.CodeView()) {
    FUZZ_CHECK(CodeView->Path.find('\0') == std::string::npos);
  }
  (void)Image.RelocationBlocks();
  // Mapping is refused past the loader's limit; a small image maps at its own size.
  if (Image.SizeOfImage() <= (1u << 24)) {
    if (auto Mapped = Image.MapAtRvas()) {
      FUZZ_CHECK(Mapped->size() == Image.SizeOfImage());
    }
  }
  return 0;
}
