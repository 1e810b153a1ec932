// Decodes one inventory image: the header, its CRC verdict and the records behind it.
#pragma once

#include "DecodeTypes.h"

namespace RosterDecode {

// Never fails: what cannot be trusted is left out and named in the result's Problems.
InventoryFacts DecodeInventory(ByteView Image);

}  // namespace RosterDecode
