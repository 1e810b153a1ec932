// Configuration tables of the system table, and the HOB list installed among them.
#include "ServiceEntry.h"

#include <algorithm>
#include <cstring>

namespace sim {

EFI_STATUS Platform::Impl::InstallConfigurationTable(const EFI_GUID *Guid, VOID *Table) {
  if (Guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto Found = std::find_if(ConfigTables.begin(), ConfigTables.end(),
                            [&](const EFI_CONFIGURATION_TABLE &Entry) { return GuidEquals(Entry.VendorGuid, *Guid); });
  if (Table == nullptr) {
    if (Found == ConfigTables.end()) {
      return EFI_NOT_FOUND;
    }
    ConfigTables.erase(Found);
  } else if (Found != ConfigTables.end()) {
    Found->VendorTable = Table;
  } else {
    ConfigTables.push_back(EFI_CONFIGURATION_TABLE{*Guid, Table});
  }
  St.NumberOfTableEntries = ConfigTables.size();
  St.ConfigurationTable = ConfigTables.empty() ? nullptr : ConfigTables.data();
  RefreshSystemTableCrc();
  return EFI_SUCCESS;
}

void Platform::InstallConfigurationTable(const EFI_GUID &Guid, VOID *Table) {
  EFI_STATUS Status = State_->InstallConfigurationTable(&Guid, Table);
  if (EFI_ERROR(Status)) {
    Fail("InstallConfigurationTable from the test failed for " + GuidText(Guid));
  }
}

void Platform::SetHobList(std::vector<UINT8> Bytes) {
  auto &Copy = State_->HobList;
  Copy.assign((Bytes.size() + 7) / 8, 0);
  if (!Bytes.empty()) {
    std::memcpy(Copy.data(), Bytes.data(), Bytes.size());
  }
  State_->InstallConfigurationTable(&gEfiHobListGuid, Copy.empty() ? nullptr : Copy.data());
}

namespace {

EFI_STATUS EFIAPI SimInstallConfigurationTable(CONST EFI_GUID *Guid, VOID *Table) {
  return BootService("InstallConfigurationTable",
                     [&](Platform::Impl &S) { return S.InstallConfigurationTable(Guid, Table); });
}

}  // namespace

void FillConfigurationServices(EFI_BOOT_SERVICES &Bs) { Bs.InstallConfigurationTable = SimInstallConfigurationTable; }

}  // namespace sim
