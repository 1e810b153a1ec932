// Bounded reads from untrusted bytes: every helper takes the field's width and never reads
// past it, because full-width text fields carry no terminator.
#pragma once

#include <cstdint>
#include <string>

#include "DecodeTypes.h"
#include "crc32/Crc32.h"

namespace RosterDecode {

// The text of a fixed-width field: its bytes up to the first NUL or the field's end.
std::string FieldText(const char *Field, size_t Width);

// Text with the blanks (and NULs) around it removed.
std::string TrimBlanks(const std::string &Text);

// The host CRC-32 over a view. Pass the CRC of the bytes before to continue it:
// Crc32(B, Crc32(A)) is the CRC of A followed by B.
inline uint32_t Crc32(ByteView Bytes, uint32_t Before = 0) { return crc32::Crc32(Bytes.data(), Bytes.size(), Before); }

// printf into a std::string; the decoder's messages are built with it.
std::string Format(const char *Fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace RosterDecode
