/** @file
  The variables the platform provides for the drivers: "DebugMessageConfig" (the debug
  level Roster and Hotlatch print at) and the three setup variables whose debug options
  Hotlatch switches.
**/

#ifndef ROSTER_HOTLATCH_VARIABLES_H_
#define ROSTER_HOTLATCH_VARIABLES_H_

#define DEBUG_MESSAGE_CONFIG_GUID \
  { 0x091AAE73, 0x6D75, 0x479E, { 0x8D, 0x16, 0x8E, 0x38, 0xD8, 0xC8, 0x58, 0xC6 } }
#define SETUP_VARIABLE_GUID \
  { 0xA04A27F4, 0xDF00, 0x4D42, { 0xB5, 0x52, 0x39, 0x51, 0x13, 0x02, 0x11, 0x3D } }
#define PCH_RC_CONFIGURATION_VARIABLE_GUID \
  { 0xD19A26A3, 0x17F1, 0x48C3, { 0x8A, 0x1E, 0x11, 0xEB, 0x0A, 0x7F, 0x6E, 0x4E } }
#define SOCKET_PROCESSOR_CORE_CONFIG_VARIABLE_GUID \
  { 0x07013588, 0xC789, 0x4E12, { 0xA7, 0xC3, 0x88, 0xFA, 0xFA, 0xE7, 0x9F, 0x7C } }

#define DEBUG_MESSAGE_CONFIG_VARIABLE_NAME           L"DebugMessageConfig"
#define SETUP_VARIABLE_NAME                          L"Setup"
#define PCH_RC_CONFIGURATION_VARIABLE_NAME           L"PchRcConfiguration"
#define SOCKET_PROCESSOR_CORE_CONFIG_VARIABLE_NAME   L"SocketProcessorCoreConfig"

extern EFI_GUID  gDebugMessageConfigGuid;
extern EFI_GUID  gSetupVariableGuid;
extern EFI_GUID  gPchRcConfigurationVariableGuid;
extern EFI_GUID  gSocketProcessorCoreConfigVariableGuid;

#endif
