// Text helpers for failure messages.
#include "PlatformImpl.h"

#include <cstdio>

namespace sim {

std::string GuidText(const EFI_GUID &Guid) {
  char Text[40];
  std::snprintf(Text, sizeof Text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", Guid.Data1, Guid.Data2,
                Guid.Data3, Guid.Data4[0], Guid.Data4[1], Guid.Data4[2], Guid.Data4[3], Guid.Data4[4], Guid.Data4[5],
                Guid.Data4[6], Guid.Data4[7]);
  return Text;
}

std::string Narrow(std::u16string_view Text) {
  std::string Out;
  for (char16_t C : Text) {
    Out.push_back(C < 0x80 ? static_cast<char>(C) : '?');
  }
  return Out;
}

}  // namespace sim
