#include "SetupVariables.h"
#include "BoardOutput.h"
#include <Guid/DebugMessageConfig.h>
#include <Guid/SetupVariables.h>

namespace {

#define SETUP_RECORD_MAX 1294
#define SETUP_ATTRIBUTES (EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS)

struct SETUP_VARIABLE {
  CONST CHAR16 *Name;
  CONST CHAR8 *Short;
  CONST EFI_GUID *Guid;
  UINTN Size;
  // Option offsets; 0 ends the list (no option lives at byte 0).
  UINTN Options[2];
  CONST CHAR8 *Labels[2];
};

CONST SETUP_VARIABLE mVariables[BOARD_SETUP_VARIABLE_COUNT] = {
    {u"Setup", "setup", &gSetupVariableGuid, 1026, {888, 891}, {"setup888", "setup891"}},
    {u"PchRcConfiguration", "pch", &gPchRcConfigurationVariableGuid, 1294, {1179, 0}, {"pch1179", NULL}},
    {u"SocketProcessorCoreConfig",
     "socket",
     &gSocketProcessorCoreConfigVariableGuid,
     298,
     {135, 0},
     {"socket135", NULL}},
};

UINT8 mRecord[SETUP_RECORD_MAX];

EFI_STATUS ReadRecord(EFI_RUNTIME_SERVICES *RuntimeServices, CONST SETUP_VARIABLE *Variable, UINTN *Size) {
  *Size = Variable->Size;
  for (UINTN Index = 0; Index < SETUP_RECORD_MAX; Index++) {
    mRecord[Index] = 0;
  }
  return RuntimeServices->GetVariable(Variable->Name, Variable->Guid, NULL, Size, mRecord);
}

}  // namespace

EFI_STATUS SetDebugMessageConfig(EFI_RUNTIME_SERVICES *RuntimeServices) {
  // Byte 4 selects the per-level switches; byte 9 is DEBUG_INFO, byte 21 DEBUG_ERROR.
  UINT8 Config[23] = {};
  Config[4] = 1;
  Config[9] = 1;
  Config[21] = 1;
  return RuntimeServices->SetVariable(kDebugMessageConfigName, &gDebugMessageConfigGuid, SETUP_ATTRIBUTES,
                                      sizeof(Config), Config);
}

EFI_STATUS CreateSetupVariables(EFI_RUNTIME_SERVICES *RuntimeServices, CONST BOARD_CONFIG *Config) {
  for (UINTN Which = 0; Which < BOARD_SETUP_VARIABLE_COUNT; Which++) {
    CONST SETUP_VARIABLE *Variable = &mVariables[Which];
    for (UINTN Index = 0; Index < Variable->Size; Index++) {
      mRecord[Index] = (UINT8)(Config->PatternSeed[Which] + 37 * Index);
    }
    for (UINTN Option = 0; Option < ARRAY_SIZE(Variable->Options) && Variable->Options[Option] != 0; Option++) {
      mRecord[Variable->Options[Option]] = Config->OptionFill;
    }
    EFI_STATUS Status =
        RuntimeServices->SetVariable(Variable->Name, Variable->Guid, SETUP_ATTRIBUTES, Variable->Size, mRecord);
    if (EFI_ERROR(Status)) {
      return Status;
    }
  }
  return EFI_SUCCESS;
}

EFI_STATUS WriteAllOptions(EFI_RUNTIME_SERVICES *RuntimeServices, UINT8 Value) {
  for (UINTN Which = 0; Which < BOARD_SETUP_VARIABLE_COUNT; Which++) {
    CONST SETUP_VARIABLE *Variable = &mVariables[Which];
    UINTN Size = 0;
    EFI_STATUS Status = ReadRecord(RuntimeServices, Variable, &Size);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    for (UINTN Option = 0; Option < ARRAY_SIZE(Variable->Options) && Variable->Options[Option] != 0; Option++) {
      mRecord[Variable->Options[Option]] = Value;
    }
    Status = RuntimeServices->SetVariable(Variable->Name, Variable->Guid, SETUP_ATTRIBUTES, Variable->Size, mRecord);
    if (EFI_ERROR(Status)) {
      return Status;
    }
  }
  return EFI_SUCCESS;
}

BOOLEAN ReadSetupDebugByte(EFI_RUNTIME_SERVICES *RuntimeServices, UINT8 *Value) {
  UINTN Size = 0;
  if (EFI_ERROR(ReadRecord(RuntimeServices, &mVariables[0], &Size)) || Size != mVariables[0].Size) {
    return FALSE;
  }
  *Value = mRecord[mVariables[0].Options[0]];
  return TRUE;
}

VOID ReportSetupVariables(EFI_SYSTEM_TABLE *SystemTable, CONST CHAR8 *Stage) {
  BoardLineStart("BOARD VARS stage=");
  BoardAppendText(Stage);
  for (UINTN Which = 0; Which < BOARD_SETUP_VARIABLE_COUNT; Which++) {
    CONST SETUP_VARIABLE *Variable = &mVariables[Which];
    UINTN Size = 0;
    EFI_STATUS Status = ReadRecord(SystemTable->RuntimeServices, Variable, &Size);
    BoardAppendText(" ");
    BoardAppendText(Variable->Short);
    BoardAppendText("-status=");
    BoardAppendHex(Status);
    BoardAppendText(" ");
    BoardAppendText(Variable->Short);
    BoardAppendText("-size=");
    BoardAppendDecimal(EFI_ERROR(Status) ? 0 : Size);
    for (UINTN Option = 0; Option < ARRAY_SIZE(Variable->Options) && Variable->Options[Option] != 0; Option++) {
      BoardAppendField(Variable->Labels[Option], EFI_ERROR(Status) ? 0x100 : mRecord[Variable->Options[Option]]);
      mRecord[Variable->Options[Option]] = 0;
    }
    UINT32 Crc = 0;
    SystemTable->BootServices->CalculateCrc32(mRecord, Variable->Size, &Crc);
    BoardAppendText(" ");
    BoardAppendText(Variable->Short);
    BoardAppendText("-rest=");
    BoardAppendHex(EFI_ERROR(Status) ? 0 : Crc);
  }
  BoardLineEnd();
}
