// Every table entry exists from the start; the service files replace the ones they model.
#include "ServiceEntry.h"

namespace sim {

void FillUnexpectedBootServices(EFI_BOOT_SERVICES &Bs) {
  SIM_UNEXPECTED(Bs, RaiseTPL);
  SIM_UNEXPECTED(Bs, RestoreTPL);
  SIM_UNEXPECTED(Bs, AllocatePages);
  SIM_UNEXPECTED(Bs, FreePages);
  SIM_UNEXPECTED(Bs, GetMemoryMap);
  SIM_UNEXPECTED(Bs, AllocatePool);
  SIM_UNEXPECTED(Bs, FreePool);
  SIM_UNEXPECTED(Bs, CreateEvent);
  SIM_UNEXPECTED(Bs, SetTimer);
  SIM_UNEXPECTED(Bs, WaitForEvent);
  SIM_UNEXPECTED(Bs, SignalEvent);
  SIM_UNEXPECTED(Bs, CloseEvent);
  SIM_UNEXPECTED(Bs, CheckEvent);
  SIM_UNEXPECTED(Bs, InstallProtocolInterface);
  SIM_UNEXPECTED(Bs, ReinstallProtocolInterface);
  SIM_UNEXPECTED(Bs, UninstallProtocolInterface);
  SIM_UNEXPECTED(Bs, HandleProtocol);
  SIM_UNEXPECTED(Bs, RegisterProtocolNotify);
  SIM_UNEXPECTED(Bs, LocateHandle);
  SIM_UNEXPECTED(Bs, LocateDevicePath);
  SIM_UNEXPECTED(Bs, InstallConfigurationTable);
  SIM_UNEXPECTED(Bs, LoadImage);
  SIM_UNEXPECTED(Bs, StartImage);
  SIM_UNEXPECTED(Bs, Exit);
  SIM_UNEXPECTED(Bs, UnloadImage);
  SIM_UNEXPECTED(Bs, ExitBootServices);
  SIM_UNEXPECTED(Bs, GetNextMonotonicCount);
  SIM_UNEXPECTED(Bs, Stall);
  SIM_UNEXPECTED(Bs, SetWatchdogTimer);
  SIM_UNEXPECTED(Bs, ConnectController);
  SIM_UNEXPECTED(Bs, DisconnectController);
  SIM_UNEXPECTED(Bs, OpenProtocol);
  SIM_UNEXPECTED(Bs, CloseProtocol);
  SIM_UNEXPECTED(Bs, OpenProtocolInformation);
  SIM_UNEXPECTED(Bs, ProtocolsPerHandle);
  SIM_UNEXPECTED(Bs, LocateHandleBuffer);
  SIM_UNEXPECTED(Bs, LocateProtocol);
  SIM_UNEXPECTED(Bs, CalculateCrc32);
  SIM_UNEXPECTED(Bs, CopyMem);
  SIM_UNEXPECTED(Bs, SetMem);
  SIM_UNEXPECTED(Bs, CreateEventEx);
}

void FillUnexpectedRuntimeServices(EFI_RUNTIME_SERVICES &Rt) {
  SIM_UNEXPECTED(Rt, GetTime);
  SIM_UNEXPECTED(Rt, SetTime);
  SIM_UNEXPECTED(Rt, GetWakeupTime);
  SIM_UNEXPECTED(Rt, SetWakeupTime);
  SIM_UNEXPECTED(Rt, SetVirtualAddressMap);
  SIM_UNEXPECTED(Rt, ConvertPointer);
  SIM_UNEXPECTED(Rt, GetVariable);
  SIM_UNEXPECTED(Rt, GetNextVariableName);
  SIM_UNEXPECTED(Rt, SetVariable);
  SIM_UNEXPECTED(Rt, GetNextHighMonotonicCount);
  SIM_UNEXPECTED(Rt, ResetSystem);
  SIM_UNEXPECTED(Rt, UpdateCapsule);
  SIM_UNEXPECTED(Rt, QueryCapsuleCapabilities);
  SIM_UNEXPECTED(Rt, QueryVariableInfo);
}

}  // namespace sim
