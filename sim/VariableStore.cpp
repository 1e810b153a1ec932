// The variable store behind GetVariable and SetVariable, with UEFI's rules for sizes,
// attributes and the runtime phase. Tests also fill and inspect it directly.
#include "PlatformImpl.h"

#include <cstring>

namespace sim {

namespace {

// Variable names longer than this are taken as unterminated garbage, not read further.
constexpr size_t kMaxNameChars = 1024;
// Beyond this a write fails as a full store would.
constexpr UINTN kMaxDataSize = 64 * 1024;

constexpr UINT32 kKnownAttributes = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS |
                                    EFI_VARIABLE_RUNTIME_ACCESS | EFI_VARIABLE_HARDWARE_ERROR_RECORD |
                                    EFI_VARIABLE_AUTHENTICATED_WRITE_ACCESS |
                                    EFI_VARIABLE_TIME_BASED_AUTHENTICATED_WRITE_ACCESS | EFI_VARIABLE_APPEND_WRITE;
constexpr UINT32 kUnsupportedAttributes = EFI_VARIABLE_HARDWARE_ERROR_RECORD | EFI_VARIABLE_AUTHENTICATED_WRITE_ACCESS |
                                          EFI_VARIABLE_TIME_BASED_AUTHENTICATED_WRITE_ACCESS;

std::string GuidKey(const EFI_GUID &Guid) { return std::string(reinterpret_cast<const char *>(&Guid), sizeof Guid); }

// The name up to its terminator; nullopt when there is none within the bound.
std::optional<std::u16string_view> BoundedName(const CHAR16 *Name) {
  for (size_t Length = 0; Length < kMaxNameChars; Length++) {
    if (Name[Length] == 0) {
      return std::u16string_view(Name, Length);
    }
  }
  return std::nullopt;
}

}  // namespace

void VariableStore::Put(std::u16string_view Name, const EFI_GUID &Guid, UINT32 Attributes, std::vector<UINT8> Data) {
  Store[{std::u16string(Name), GuidKey(Guid)}] = Variable{Attributes, std::move(Data)};
}

const VariableStore::Variable *VariableStore::Find(std::u16string_view Name, const EFI_GUID &Guid) const {
  auto Found = Store.find({std::u16string(Name), GuidKey(Guid)});
  return Found == Store.end() ? nullptr : &Found->second;
}

void VariableStore::Remove(std::u16string_view Name, const EFI_GUID &Guid) {
  Store.erase({std::u16string(Name), GuidKey(Guid)});
}

EFI_STATUS VariableStore::Get(const CHAR16 *Name, const EFI_GUID *Guid, UINT32 *Attributes, UINTN *DataSize,
                              VOID *Data) {
  return Get(Name, Guid, Attributes, DataSize, Data, false);
}

EFI_STATUS VariableStore::Get(const CHAR16 *Name, const EFI_GUID *Guid, UINT32 *Attributes, UINTN *DataSize, VOID *Data,
                              bool AtRuntime) {
  if (Name == nullptr || Guid == nullptr || DataSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Data == nullptr && *DataSize != 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (NotAvailableYet) {
    return EFI_NOT_AVAILABLE_YET;
  }
  auto Key = BoundedName(Name);
  if (!Key) {
    return EFI_INVALID_PARAMETER;
  }
  const Variable *Found = Key->empty() ? nullptr : Find(*Key, *Guid);
  if (Found == nullptr || (AtRuntime && (Found->Attributes & EFI_VARIABLE_RUNTIME_ACCESS) == 0)) {
    return EFI_NOT_FOUND;
  }
  if (Attributes != nullptr) {
    *Attributes = Found->Attributes;
  }
  if (*DataSize < Found->Data.size()) {
    *DataSize = Found->Data.size();
    return EFI_BUFFER_TOO_SMALL;
  }
  if (!Found->Data.empty()) {
    std::memcpy(Data, Found->Data.data(), Found->Data.size());
  }
  *DataSize = Found->Data.size();
  return EFI_SUCCESS;
}

EFI_STATUS VariableStore::Set(const CHAR16 *Name, const EFI_GUID *Guid, UINT32 Attributes, UINTN DataSize,
                              const VOID *Data, bool AtRuntime) {
  if (Name == nullptr || Guid == nullptr || (DataSize != 0 && Data == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  auto Key = BoundedName(Name);
  if (!Key || Key->empty()) {
    return EFI_INVALID_PARAMETER;
  }
  if ((Attributes & ~kKnownAttributes) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  if ((Attributes & kUnsupportedAttributes) != 0) {
    return EFI_UNSUPPORTED;
  }
  // Runtime access implies boot-service access.
  if ((Attributes & EFI_VARIABLE_RUNTIME_ACCESS) != 0 && (Attributes & EFI_VARIABLE_BOOTSERVICE_ACCESS) == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (DataSize > kMaxDataSize) {
    return EFI_OUT_OF_RESOURCES;
  }
  const UINT32 Stored = Attributes & ~static_cast<UINT32>(EFI_VARIABLE_APPEND_WRITE);
  const bool Append = (Attributes & EFI_VARIABLE_APPEND_WRITE) != 0;
  const bool Delete =
      (!Append && DataSize == 0) || (Attributes & (EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS)) == 0;
  auto Existing = Store.find({std::u16string(*Key), GuidKey(*Guid)});
  const bool Visible =
      Existing != Store.end() && (!AtRuntime || (Existing->second.Attributes & EFI_VARIABLE_RUNTIME_ACCESS) != 0);

  if (AtRuntime) {
    // After ExitBootServices only non-volatile runtime variables can change.
    if (Attributes != 0 && (Attributes & EFI_VARIABLE_RUNTIME_ACCESS) == 0) {
      return EFI_INVALID_PARAMETER;
    }
    if (Attributes != 0 && (Attributes & EFI_VARIABLE_NON_VOLATILE) == 0) {
      return EFI_INVALID_PARAMETER;
    }
  }
  if (Visible && Attributes != 0 && Stored != Existing->second.Attributes) {
    return EFI_INVALID_PARAMETER;
  }
  if (Delete) {
    if (!Visible) {
      return EFI_NOT_FOUND;
    }
    Store.erase(Existing);
    Writes++;
    return EFI_SUCCESS;
  }
  const auto *Bytes = static_cast<const UINT8 *>(Data);
  if (Visible && Append) {
    Existing->second.Data.insert(Existing->second.Data.end(), Bytes, Bytes + DataSize);
  } else if (Visible) {
    Existing->second.Data.assign(Bytes, Bytes + DataSize);
  } else {
    if (DataSize == 0) {
      return EFI_SUCCESS;  // appending nothing to nothing
    }
    Put(*Key, *Guid, Stored, std::vector<UINT8>(Bytes, Bytes + DataSize));
  }
  Writes++;
  return EFI_SUCCESS;
}

}  // namespace sim
