// Runs the image's own memcpy/memmove/memset/memcmp (the ones every image links in place
// of a C runtime) on real firmware, where a fault would otherwise show only as corruption.
#pragma once
#include <Uefi.h>

// TRUE when every case gave the expected bytes.
BOOLEAN MemoryRoutinesWork(VOID);
