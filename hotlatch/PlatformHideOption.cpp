// The PCH and processor hide options, each in its own record.
#include "Hotlatch.h"

VOID PchHideOption(UINT8 Value) {
  UINT8 PchRcConfig[PCH_RC_CONFIGURATION_SIZE];

  EFI_STATUS Status = ReadSetupRecord(PCH_RC_CONFIGURATION_VARIABLE_NAME, &gPchRcConfigurationVariableGuid,
                                      sizeof(PchRcConfig), PchRcConfig);
  if (EFI_ERROR(Status)) {
    DEBUG((DEBUG_INFO, "[PchRcConfig] Get Pch Rc Configuration Failed...%r\n", Status));
    return;
  }

  PchRcConfig[PCH_HIDE_OPTION_OFFSET] = Value;
  Status = WriteSetupRecord(PCH_RC_CONFIGURATION_VARIABLE_NAME, &gPchRcConfigurationVariableGuid, sizeof(PchRcConfig),
                            PchRcConfig);
  if (EFI_ERROR(Status)) {
    DEBUG((DEBUG_INFO, "[PchHideOption] Set Variable PchRcConfig.PchHideOption Failed....%r\n", Status));
  } else {
    DEBUG((DEBUG_INFO, "[PchHideOption] Set Variable PchRcConfig.PchHideOption Success....%r\n", Status));
  }
}

VOID SocketProcConfig(UINT8 Value) {
  UINT8 SocketProcessorCoreConfig[SOCKET_PROCESSOR_CORE_CONFIG_SIZE];

  EFI_STATUS Status =
      ReadSetupRecord(SOCKET_PROCESSOR_CORE_CONFIG_VARIABLE_NAME, &gSocketProcessorCoreConfigVariableGuid,
                      sizeof(SocketProcessorCoreConfig), SocketProcessorCoreConfig);
  if (EFI_ERROR(Status)) {
    DEBUG((DEBUG_INFO, "[SocketProcConfig] Get Socket Processor Core Config Failed...%r\n", Status));
    return;
  }

  SocketProcessorCoreConfig[PROC_HIDE_OFFSET] = Value;
  Status = WriteSetupRecord(SOCKET_PROCESSOR_CORE_CONFIG_VARIABLE_NAME, &gSocketProcessorCoreConfigVariableGuid,
                            sizeof(SocketProcessorCoreConfig), SocketProcessorCoreConfig);
  if (EFI_ERROR(Status)) {
    DEBUG((DEBUG_INFO, "[SocketProcConfig] Set Variable SocketProcConfig.ProcHide Failed....%r\n", Status));
  } else {
    DEBUG((DEBUG_INFO, "[SocketProcConfig] Set Variable SocketProcConfig.ProcHide Success....%r\n", Status));
  }
}
