// The SMBIOS table as the PI SMBIOS protocol hands it out. Structures are added with their
// formatted area and string set; GetNext walks them as EDK II's SMBIOS driver does.
#pragma once

#include <sim/Platform.h>

#include <optional>
#include <string>
#include <vector>

namespace sim {

class SmbiosTable : public Peer {
 public:
  explicit SmbiosTable(Platform &P);  // installs the protocol on a new handle

  // Adds a structure: Formatted is the whole formatted area from the Type byte on (its
  // Length byte is set to Formatted.size(), the handle is assigned), then the string set.
  // An empty string list gives the two NULs of a structure without strings.
  EFI_SMBIOS_HANDLE Add(std::vector<UINT8> Formatted, const std::vector<std::string> &Strings);
  // Adds a structure byte for byte (malformed Length or string set included); the handle
  // bytes are still assigned.
  EFI_SMBIOS_HANDLE AddBytes(std::vector<UINT8> Bytes);
  size_t Size() const { return Structures.size(); }

  struct GetNextCall {
    EFI_SMBIOS_HANDLE HandleIn;
    std::optional<UINT8> TypeFilter;
    bool ProducerRequested;
    EFI_STATUS Status;
    EFI_SMBIOS_HANDLE HandleOut;
  };
  const std::vector<GetNextCall> &Calls() const { return Log; }
  EFI_SMBIOS_PROTOCOL *Interface() { return &Instance_.Protocol; }

 private:
  struct InstanceRecord {
    EFI_SMBIOS_PROTOCOL Protocol;
    SmbiosTable *Owner;
  };
  struct Stored {
    EFI_SMBIOS_HANDLE Handle;
    std::vector<UINT8> Bytes;
  };
  static EFI_STATUS EFIAPI GetNextEntry(CONST EFI_SMBIOS_PROTOCOL *This, EFI_SMBIOS_HANDLE *SmbiosHandle,
                                        EFI_SMBIOS_TYPE *Type, SMBIOS_STRUCTURE **Record, EFI_HANDLE *ProducerHandle);
  EFI_STATUS GetNext(EFI_SMBIOS_HANDLE *SmbiosHandle, EFI_SMBIOS_TYPE *Type, SMBIOS_STRUCTURE **Record,
                     EFI_HANDLE *ProducerHandle);

  Platform &P;
  InstanceRecord Instance_{};
  EFI_HANDLE Handle_ = nullptr;
  std::vector<Stored> Structures;
  EFI_SMBIOS_HANDLE NextHandle = 0;
  std::vector<GetNextCall> Log;
};

}  // namespace sim
