// "Rich Text Format" blocks: the RTF is the block up to its first zero byte, or
// the whole block when it has none.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "items/MarkupFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view block(reinterpret_cast<const char*>(data), size);
    const std::string_view rtf = RtfDocument(block);
    if (rtf.data() != block.data() || rtf.size() > block.size()) abort();
    if (rtf.find('\0') != std::string_view::npos) abort();
    if (rtf.size() < block.size() && block[rtf.size()] != '\0') abort();
    return 0;
}
