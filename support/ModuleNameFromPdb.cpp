// The module name a dead-loop report shows: the last component of the image's CodeView
// path, up to its first dot, with "efi" after the dot.
#include <Uefi.h>
#include <Library/PeCoffGetEntryPointLib.h>
#include "DeadLoopReport.h"

// Room kept free behind the copied characters for "efi" and the terminator, with margin.
static constexpr UINTN kNameReserve = 10;

EFI_STATUS GetModuleNameFromPdb(VOID *ImageBase, CHAR8 *NameBuffer, UINTN BufferSize) {
  CONST CHAR8 *Path;
  UINTN Limit;
  UINTN Start;
  UINTN Index;
  UINTN Length;

  if (ImageBase == NULL || NameBuffer == NULL || BufferSize == 0) {
    return EFI_INVALID_PARAMETER;
  }
  Path = (CONST CHAR8 *)PeCoffLoaderGetPdbPointer(ImageBase);
  if (Path == NULL) {
    return EFI_NOT_FOUND;
  }

  // A buffer too small for any name copies nothing (rather than wrapping the limit round).
  Limit = BufferSize > kNameReserve ? BufferSize - kNameReserve : 0;

  Start = 0;
  for (Index = 0; Index < Limit && Path[Index] != '\0'; Index++) {
    if (Path[Index] == '\\' || Path[Index] == '/') {
      Start = Index + 1;
    }
  }

  // Counting past the limit would change nothing, so a path without a terminator is not
  // followed further than that.
  Length = 0;
  while (Length <= Limit && Path[Start + Length] != '\0') {
    Length++;
  }
  if (Length == 0) {
    NameBuffer[0] = '\0';
    return EFI_NOT_FOUND;
  }

  Index = 0;
  for (; Index < Limit && Index < Length; Index++) {
    NameBuffer[Index] = Path[Start + Index];
    if (NameBuffer[Index] == '.') {
      NameBuffer[Index + 1] = 'e';
      NameBuffer[Index + 2] = 'f';
      NameBuffer[Index + 3] = 'i';
      NameBuffer[Index + 4] = '\0';
      return EFI_SUCCESS;
    }
  }
  if (Index == Length) {
    NameBuffer[Index] = '\0';
  }
  return EFI_NOT_FOUND;
}
