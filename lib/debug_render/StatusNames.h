// The names "%r" prints, as the status-code listener renders them: EDK II's table of 6
// success/warning and 33 error names. The images print no status names themselves.
#pragma once
#include <Uefi.h>

inline constexpr UINTN kWarningStatusCount = 6;  // values 0 to 5
inline constexpr UINTN kErrorStatusCount = 33;  // error values 1 to 33

inline constexpr const CHAR8 *kWarningStatusNames[kWarningStatusCount] = {"Success",
                                                                          "Warning Unknown Glyph",
                                                                          "Warning Delete Failure",
                                                                          "Warning Write Failure",
                                                                          "Warning Buffer Too Small",
                                                                          "Warning Stale Data"};

inline constexpr const CHAR8 *kErrorStatusNames[kErrorStatusCount] = {
    "Load Error",           "Invalid Parameter",  "Unsupported",
    "Bad Buffer Size",      "Buffer Too Small",   "Not Ready",
    "Device Error",         "Write Protected",    "Out of Resources",
    "Volume Corrupt",       "Volume Full",        "No Media",
    "Media changed",        "Not Found",          "Access Denied",
    "No Response",          "No mapping",         "Time out",
    "Not started",          "Already started",    "Aborted",
    "ICMP Error",           "TFTP Error",         "Protocol Error",
    "Incompatible Version", "Security Violation", "CRC Error",
    "End of Media",         "Reserved (29)",      "Reserved (30)",
    "End of File",          "Invalid Language",   "Compromised Data"};

// The name of Status, or null when "%r" prints it as "%08X" of its low 32 bits.
inline const CHAR8 *StatusName(EFI_STATUS Status) {
  if (EFI_ERROR(Status)) {
    UINT64 Index = Status & ~MAX_BIT;
    return (Index >= 1 && Index <= kErrorStatusCount) ? kErrorStatusNames[Index - 1] : nullptr;
  }
  return Status < kWarningStatusCount ? kWarningStatusNames[Status] : nullptr;
}
