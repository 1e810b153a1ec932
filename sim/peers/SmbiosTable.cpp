#include "SmbiosTable.h"

#include "../ServiceEntry.h"

#include <cstring>

namespace sim {

SmbiosTable::SmbiosTable(Platform &Owner) : P(Owner) {
  SIM_UNEXPECTED_NAMED(Instance_.Protocol, Add, "Smbios.Add");
  SIM_UNEXPECTED_NAMED(Instance_.Protocol, UpdateString, "Smbios.UpdateString");
  SIM_UNEXPECTED_NAMED(Instance_.Protocol, Remove, "Smbios.Remove");
  Instance_.Protocol.GetNext = GetNextEntry;
  Instance_.Protocol.MajorVersion = 3;
  Instance_.Protocol.MinorVersion = 2;
  Instance_.Owner = this;
  if (EFI_ERROR(P.InstallProtocol(&Handle_, gEfiSmbiosProtocolGuid, &Instance_.Protocol))) {
    Fail("SMBIOS protocol install failed");
  }
}

EFI_SMBIOS_HANDLE SmbiosTable::Add(std::vector<UINT8> Formatted, const std::vector<std::string> &Strings) {
  if (Formatted.size() < sizeof(SMBIOS_STRUCTURE) || Formatted.size() > 0xFF) {
    Fail("SMBIOS formatted area must be 4 to 255 bytes");
    return SMBIOS_HANDLE_PI_RESERVED;
  }
  Formatted[1] = (UINT8)Formatted.size();
  for (const std::string &Text : Strings) {
    Formatted.insert(Formatted.end(), Text.begin(), Text.end());
    Formatted.push_back(0);
  }
  if (Strings.empty()) {
    Formatted.push_back(0);
  }
  Formatted.push_back(0);
  return AddBytes(std::move(Formatted));
}

EFI_SMBIOS_HANDLE SmbiosTable::AddBytes(std::vector<UINT8> Bytes) {
  if (Bytes.size() < sizeof(SMBIOS_STRUCTURE)) {
    Fail("SMBIOS structure shorter than its header");
    return SMBIOS_HANDLE_PI_RESERVED;
  }
  const EFI_SMBIOS_HANDLE Handle = NextHandle++;
  std::memcpy(&Bytes[2], &Handle, sizeof(Handle));
  Structures.push_back(Stored{Handle, std::move(Bytes)});
  return Handle;
}

EFI_STATUS EFIAPI SmbiosTable::GetNextEntry(CONST EFI_SMBIOS_PROTOCOL *This, EFI_SMBIOS_HANDLE *SmbiosHandle,
                                            EFI_SMBIOS_TYPE *Type, SMBIOS_STRUCTURE **Record,
                                            EFI_HANDLE *ProducerHandle) {
  if (This == nullptr) {
    Fail(Severity::Unsafe, "Smbios.GetNext called with a null This");
    return EFI_INVALID_PARAMETER;
  }
  auto *Instance = reinterpret_cast<const InstanceRecord *>(This);
  return Instance->Owner->GetNext(SmbiosHandle, Type, Record, ProducerHandle);
}

// EDK II's walk: 0xFFFE starts at the first structure; otherwise the structure after the
// one with the given handle. Running off the end answers EFI_NOT_FOUND and resets the
// handle to 0xFFFE.
EFI_STATUS SmbiosTable::GetNext(EFI_SMBIOS_HANDLE *SmbiosHandle, EFI_SMBIOS_TYPE *Type, SMBIOS_STRUCTURE **Record,
                                EFI_HANDLE *ProducerHandle) {
  GetNextCall Call{};
  Call.HandleIn = SmbiosHandle != nullptr ? *SmbiosHandle : 0;
  if (Type != nullptr) {
    Call.TypeFilter = *Type;
  }
  Call.ProducerRequested = ProducerHandle != nullptr;

  auto Finish = [&](EFI_STATUS Status) {
    Call.Status = Status;
    Call.HandleOut = SmbiosHandle != nullptr ? *SmbiosHandle : 0;
    Log.push_back(Call);
    return Status;
  };
  if (auto Injected = P.Faults().Check("Smbios.GetNext")) {
    return Finish(*Injected);
  }
  if (SmbiosHandle == nullptr || Record == nullptr) {
    Fail("Smbios.GetNext needs a handle and a record pointer");
    return Finish(EFI_INVALID_PARAMETER);
  }

  bool StartFound = *SmbiosHandle == SMBIOS_HANDLE_PI_RESERVED;
  for (Stored &Each : Structures) {
    if (StartFound) {
      if (Type == nullptr || *Type == Each.Bytes[0]) {
        *SmbiosHandle = Each.Handle;
        *Record = reinterpret_cast<SMBIOS_STRUCTURE *>(Each.Bytes.data());
        if (ProducerHandle != nullptr) {
          *ProducerHandle = Handle_;
        }
        return Finish(EFI_SUCCESS);
      }
      continue;
    }
    if (Each.Handle == *SmbiosHandle) {
      StartFound = true;
    }
  }
  *SmbiosHandle = SMBIOS_HANDLE_PI_RESERVED;
  return Finish(EFI_NOT_FOUND);
}

}  // namespace sim
