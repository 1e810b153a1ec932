#include "JsonCheck.h"

#include <cctype>

namespace DecodeTest {
namespace {

class Reader {
 public:
  explicit Reader(std::string_view Text) : Text(Text) {}

  bool Document() {
    Blanks();
    if (!Value(0)) return false;
    Blanks();
    return At == Text.size();
  }

 private:
  bool Value(int Depth) {
    if (Depth > 64 || At >= Text.size()) return false;
    switch (Text[At]) {
      case '{':
        return Object(Depth);
      case '[':
        return Array(Depth);
      case '"':
        return String();
      case 't':
        return Word("true");
      case 'f':
        return Word("false");
      case 'n':
        return Word("null");
      default:
        return Number();
    }
  }

  bool Object(int Depth) {
    ++At;
    Blanks();
    if (Take('}')) return true;
    do {
      Blanks();
      if (At >= Text.size() || Text[At] != '"' || !String()) return false;
      Blanks();
      if (!Take(':')) return false;
      Blanks();
      if (!Value(Depth + 1)) return false;
      Blanks();
    } while (Take(','));
    return Take('}');
  }

  bool Array(int Depth) {
    ++At;
    Blanks();
    if (Take(']')) return true;
    do {
      Blanks();
      if (!Value(Depth + 1)) return false;
      Blanks();
    } while (Take(','));
    return Take(']');
  }

  bool String() {
    ++At;
    while (At < Text.size()) {
      auto C = static_cast<unsigned char>(Text[At++]);
      if (C == '"') return true;
      if (C < 0x20 || C >= 0x80) return false;  // the printer keeps documents ASCII
      if (C == '\\') {
        if (At >= Text.size()) return false;
        char E = Text[At++];
        if (E == 'u') {
          for (int Digit = 0; Digit < 4; ++Digit) {
            if (At >= Text.size() || !std::isxdigit(static_cast<unsigned char>(Text[At++]))) return false;
          }
        } else if (std::string_view("\"\\/bfnrt").find(E) == std::string_view::npos) {
          return false;
        }
      }
    }
    return false;
  }

  bool Number() {
    size_t Start = At;
    Take('-');
    if (Take('0')) {
    } else if (At < Text.size() && Text[At] >= '1' && Text[At] <= '9') {
      while (At < Text.size() && std::isdigit(static_cast<unsigned char>(Text[At]))) ++At;
    } else {
      return false;
    }
    return At > Start;
  }

  bool Word(std::string_view Expected) {
    if (Text.substr(At, Expected.size()) != Expected) return false;
    At += Expected.size();
    return true;
  }

  bool Take(char C) {
    if (At < Text.size() && Text[At] == C) {
      ++At;
      return true;
    }
    return false;
  }

  void Blanks() {
    while (At < Text.size() && (Text[At] == ' ' || Text[At] == '\n' || Text[At] == '\r' || Text[At] == '\t')) ++At;
  }

  std::string_view Text;
  size_t At = 0;
};

}  // namespace

bool IsValidJson(std::string_view Text) { return Reader(Text).Document(); }

}  // namespace DecodeTest
