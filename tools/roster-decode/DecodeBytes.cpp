#include "DecodeBytes.h"

#include <array>
#include <cstdarg>
#include <cstdio>

namespace RosterDecode {

std::string FieldText(const char *Field, size_t Width) {
  size_t Length = 0;
  while (Length < Width && Field[Length] != '\0') {
    ++Length;
  }
  return std::string(Field, Length);
}

std::string TrimBlanks(const std::string &Text) {
  auto IsBlank = [](char C) { return C == ' ' || C == '\0'; };
  size_t First = 0;
  size_t End = Text.size();
  while (First < End && IsBlank(Text[First])) {
    ++First;
  }
  while (End > First && IsBlank(Text[End - 1])) {
    --End;
  }
  return Text.substr(First, End - First);
}

std::string Format(const char *Fmt, ...) {
  va_list Args;
  va_start(Args, Fmt);
  va_list Copy;
  va_copy(Copy, Args);
  int Needed = std::vsnprintf(nullptr, 0, Fmt, Copy);
  va_end(Copy);
  std::string Text;
  if (Needed > 0) {
    Text.resize(static_cast<size_t>(Needed) + 1);
    std::vsnprintf(Text.data(), Text.size(), Fmt, Args);
    Text.resize(static_cast<size_t>(Needed));
  }
  va_end(Args);
  return Text;
}

}  // namespace RosterDecode
