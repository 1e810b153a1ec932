// What the runner tells the board's platform about the board (the harness reads it from
// \BOARD.CFG on the ESP, the board driver from fw_cfg). The runner writes it from the board
// definition, so nothing on the board side hard-codes a board fact.
#pragma once
#include <Uefi.h>

#define BOARD_CONFIG_SIGNATURE "BRDCFG01"
#define BOARD_SETUP_VARIABLE_COUNT 3
#define BOARD_TRANSPORT_RECORDER 0
#define BOARD_TRANSPORT_PLATFORM 1

#pragma pack(push, 1)
struct BOARD_CONFIG {
  CHAR8 Signature[8];
  // The platform identity interface's words at byte offsets 4, 6, 8 and 10.
  UINT16 IdentityWords[4];
  // Every option byte starts with this value, so the drivers' writes show.
  UINT8 OptionFill;
  // Who produces the management transport: BOARD_TRANSPORT_RECORDER (the board keeps what
  // it is handed, no BMC) or BOARD_TRANSPORT_PLATFORM (a platform driver, KcsTransport,
  // carries it to a BMC; the board installs none).
  UINT8 Transport;
  UINT8 Reserved[2];
  // Byte i of setup variable v is (PatternSeed[v] + 37 * i) mod 256, option bytes aside.
  UINT32 PatternSeed[BOARD_SETUP_VARIABLE_COUNT];
  // How long each key wait lasts at most.
  UINT32 KeyWaitSeconds;
};
#pragma pack(pop)
static_assert(sizeof(BOARD_CONFIG) == 36, "board config layout");

// Checks Size bytes at Buffer and copies them to *Config; on any error the caller must not
// go on, since every expectation of the runner rests on these values.
EFI_STATUS ParseBoardConfig(CONST VOID *Buffer, UINTN Size, BOARD_CONFIG *Config);
