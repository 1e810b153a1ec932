#include "JsonWriter.h"

#include "DecodeBytes.h"

namespace RosterDecode {

std::string JsonQuoted(std::string_view Bytes) {
  std::string Quoted = "\"";
  for (char C : Bytes) {
    auto Byte = static_cast<uint8_t>(C);
    switch (C) {
      case '"':
        Quoted += "\\\"";
        break;
      case '\\':
        Quoted += "\\\\";
        break;
      case '\n':
        Quoted += "\\n";
        break;
      case '\r':
        Quoted += "\\r";
        break;
      case '\t':
        Quoted += "\\t";
        break;
      default:
        // Field bytes are meant to be ASCII; anything else is shown as the byte's value, so
        // the document stays valid UTF-8 whatever the image held.
        if (Byte < 0x20 || Byte >= 0x7F) {
          Quoted += Format("\\u%04x", Byte);
        } else {
          Quoted += C;
        }
    }
  }
  return Quoted + "\"";
}

void JsonWriter::BeforeValue() {
  if (AfterKey) {
    AfterKey = false;
    return;
  }
  if (!HasMember.empty()) {
    if (HasMember.back()) Out += ',';
    HasMember.back() = true;
  }
}

JsonWriter &JsonWriter::BeginObject() {
  BeforeValue();
  Out += '{';
  HasMember.push_back(false);
  return *this;
}

JsonWriter &JsonWriter::EndObject() {
  Out += '}';
  HasMember.pop_back();
  return *this;
}

JsonWriter &JsonWriter::BeginArray() {
  BeforeValue();
  Out += '[';
  HasMember.push_back(false);
  return *this;
}

JsonWriter &JsonWriter::EndArray() {
  Out += ']';
  HasMember.pop_back();
  return *this;
}

JsonWriter &JsonWriter::Key(std::string_view Name) {
  BeforeValue();
  Out += JsonQuoted(Name);
  Out += ':';
  AfterKey = true;
  return *this;
}

JsonWriter &JsonWriter::String(std::string_view Value) {
  BeforeValue();
  Out += JsonQuoted(Value);
  return *this;
}

JsonWriter &JsonWriter::Number(uint64_t Value) {
  BeforeValue();
  Out += std::to_string(Value);
  return *this;
}

JsonWriter &JsonWriter::Bool(bool Value) {
  BeforeValue();
  Out += Value ? "true" : "false";
  return *this;
}

JsonWriter &JsonWriter::Null() {
  BeforeValue();
  Out += "null";
  return *this;
}

}  // namespace RosterDecode
