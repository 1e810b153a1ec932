// The platform's setup variables as the board starts them, and what the harness reads
// back at each stage. The option offsets are the interface the hot-key driver writes.
#pragma once
#include <Uefi.h>
#include "BoardConfig.h"

// Creates "DebugMessageConfig" with DEBUG_INFO and DEBUG_ERROR switched on.
EFI_STATUS SetDebugMessageConfig(EFI_RUNTIME_SERVICES *RuntimeServices);
// Creates "Setup", "PchRcConfiguration" and "SocketProcessorCoreConfig" with the
// board's pattern and every option byte at the board's fill value.
EFI_STATUS CreateSetupVariables(EFI_RUNTIME_SERVICES *RuntimeServices, CONST BOARD_CONFIG *Config);
// Sets every option byte to Value, keeping the rest of each record.
EFI_STATUS WriteAllOptions(EFI_RUNTIME_SERVICES *RuntimeServices, UINT8 Value);
// Reads "Setup" byte 888; FALSE when the variable cannot be read.
BOOLEAN ReadSetupDebugByte(EFI_RUNTIME_SERVICES *RuntimeServices, UINT8 *Value);
// "BOARD VARS stage=<Stage> setup888=.. setup891=.. pch1179=.. socket135=.." with each
// record's size, read status and CRC-32 with its option bytes counted as 0.
VOID ReportSetupVariables(EFI_SYSTEM_TABLE *SystemTable, CONST CHAR8 *Stage);
