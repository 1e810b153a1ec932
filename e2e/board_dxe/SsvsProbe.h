// Hostile "SSVS" packets on the SMM build: each must be refused with nothing written, and
// the handler must go on serving (an honest packet after each). MMRAM's place is learnt at
// the board driver's start from the SMM access protocol; there is none on the other build.
#pragma once
#include <Uefi.h>

VOID SsvsProbeFindMmram(EFI_BOOT_SERVICES *BootServices);
VOID SsvsProbeRun(EFI_SYSTEM_TABLE *SystemTable);
// Reports the probe variable as a boot finds it at the board driver's start; a boot that
// finds it (the runner's read-back boot after the probes) powers the board off.
VOID SsvsProbeReadBack(EFI_RUNTIME_SERVICES *RuntimeServices);
