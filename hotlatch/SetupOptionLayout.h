// The setup variables the hot key switches, as the platform components reading them expect.
#pragma once
#include <Base.h>

#define SETUP_OPTION_ATTRIBUTES 0x00000007U  // non-volatile, boot-service and runtime access

#define SETUP_VARIABLE_NAME u"Setup"
#define SETUP_VARIABLE_SIZE 1026U
#define SETUP_BIOS_SETUP_DEBUG_OFFSET 888U
#define SETUP_SECOND_DEBUG_OFFSET 891U

#define PCH_RC_CONFIGURATION_VARIABLE_NAME u"PchRcConfiguration"
#define PCH_RC_CONFIGURATION_SIZE 1294U
#define PCH_HIDE_OPTION_OFFSET 1179U

#define SOCKET_PROCESSOR_CORE_CONFIG_VARIABLE_NAME u"SocketProcessorCoreConfig"
#define SOCKET_PROCESSOR_CORE_CONFIG_SIZE 298U
#define PROC_HIDE_OFFSET 135U

#define DEBUG_MODE_NOTICE u"Ready to debug mode ...\n"
#define DEBUG_MODE_NOTICE_COLUMN 5U
#define DEBUG_MODE_NOTICE_ROW 32U

static_assert(SETUP_SECOND_DEBUG_OFFSET < SETUP_VARIABLE_SIZE, "setup record layout");
static_assert(PCH_HIDE_OPTION_OFFSET < PCH_RC_CONFIGURATION_SIZE, "PCH record layout");
static_assert(PROC_HIDE_OFFSET < SOCKET_PROCESSOR_CORE_CONFIG_SIZE, "socket record layout");
