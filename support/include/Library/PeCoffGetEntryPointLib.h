#pragma once
#include <Uefi.h>

// The CodeView debug path of the image at Pe32Data (PE32, PE32+ or TE), or null.
VOID *PeCoffLoaderGetPdbPointer(VOID *Pe32Data);
