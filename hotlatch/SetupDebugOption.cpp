// The "Setup" record: cleared at every start, set (with the console notice) by the key.
#include "Hotlatch.h"

VOID SetupConfig(VOID) {
  UINT8 Setup[SETUP_VARIABLE_SIZE];
  EFI_STATUS Status;

  DEBUG((DEBUG_INFO, "Init DebugOption.....\n"));
  Status = ReadSetupRecord(SETUP_VARIABLE_NAME, &gSetupVariableGuid, sizeof(Setup), Setup);
  if (EFI_ERROR(Status)) {
    DEBUG((DEBUG_INFO, "[SetupConfig] Get Setup Config Failed....%r\n", Status));
  } else {
    DEBUG((DEBUG_INFO, "[SetupConfig] Get Setup Config Success....%r\n", Status));
    Setup[SETUP_BIOS_SETUP_DEBUG_OFFSET] = 0;
    Status = WriteSetupRecord(SETUP_VARIABLE_NAME, &gSetupVariableGuid, sizeof(Setup), Setup);
    if (EFI_ERROR(Status)) {
      DEBUG((DEBUG_INFO, "[BiosSetupDebug] Set Variable Failed....%r\n", Status));
    } else {
      DEBUG((DEBUG_INFO, "[BiosSetupDebug] Set Variable Success....%r\n", Status));
    }
  }

  PchHideOption(0);
  SocketProcConfig(0);
}

static VOID ShowDebugModeNotice(VOID) {
  // Early in boot there may be no console yet.
  if (gST == NULL || gST->ConOut == NULL) {
    return;
  }
  gST->ConOut->SetCursorPosition(gST->ConOut, DEBUG_MODE_NOTICE_COLUMN, DEBUG_MODE_NOTICE_ROW);
  gST->ConOut->OutputString(gST->ConOut, DEBUG_MODE_NOTICE);
}

VOID ChangeSetupDebugOption(VOID) {
  UINT8 Setup[SETUP_VARIABLE_SIZE];
  EFI_STATUS Status;

  DEBUG((DEBUG_INFO, "Change Setup Debug Option State....\n"));
  Status = ReadSetupRecord(SETUP_VARIABLE_NAME, &gSetupVariableGuid, sizeof(Setup), Setup);
  if (EFI_ERROR(Status)) {
    DEBUG((DEBUG_INFO, "Change Setup Option State Failed...%r\n", Status));
    return;
  }

  ShowDebugModeNotice();

  Setup[SETUP_BIOS_SETUP_DEBUG_OFFSET] = 1;
  Setup[SETUP_SECOND_DEBUG_OFFSET] = 1;
  Status = WriteSetupRecord(SETUP_VARIABLE_NAME, &gSetupVariableGuid, sizeof(Setup), Setup);
  if (EFI_ERROR(Status)) {
    DEBUG((DEBUG_INFO, "[BiosSetupDebug] Set Variable SetupConfig.BiosSetupDebug Failed....%r\n", Status));
    return;
  }
  DEBUG((DEBUG_INFO, "[BiosSetupDebug] Set Variable SetupConfig.BiosSetupDebug Success....%r\n", Status));

  PchHideOption(1);
  SocketProcConfig(1);
}
