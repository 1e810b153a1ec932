// A small streaming JSON writer: it places the commas and escapes every string so that any
// byte a field holds comes out as valid JSON.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace RosterDecode {

class JsonWriter {
 public:
  JsonWriter &BeginObject();
  JsonWriter &EndObject();
  JsonWriter &BeginArray();
  JsonWriter &EndArray();
  JsonWriter &Key(std::string_view Name);
  JsonWriter &String(std::string_view Value);
  JsonWriter &Number(uint64_t Value);
  JsonWriter &Bool(bool Value);
  JsonWriter &Null();

  // Shorthands for a key and its value.
  JsonWriter &Field(std::string_view Name, std::string_view Value) { return Key(Name).String(Value); }
  JsonWriter &Field(std::string_view Name, const char *Value) { return Key(Name).String(Value); }
  template <typename T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool>) JsonWriter &Field(std::string_view Name, T Value) {
    return Key(Name).Number(static_cast<uint64_t>(Value));
  }
  JsonWriter &Field(std::string_view Name, bool Value) { return Key(Name).Bool(Value); }

  const std::string &Text() const { return Out; }

 private:
  void BeforeValue();
  std::string Out;
  std::vector<bool> HasMember;  // per open object or array: whether a member was written
  bool AfterKey = false;
};

// Bytes as a JSON string literal: printable ASCII as is, everything else \u00XX.
std::string JsonQuoted(std::string_view Bytes);

}  // namespace RosterDecode
