// Enhanced metafiles from the clipboard and from item files: the check itself
// never reads outside the block, whatever the records claim.
#include <cstdint>

#include "items/MetafileFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    IsSoundEnhMetaFile(data, size);
    return 0;
}
