// "HTML Format" blocks: the document taken is a piece of the block before its
// first zero byte, and a document headed afresh reads back as itself.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "items/MarkupFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view block(reinterpret_cast<const char*>(data), size);
    for (std::string_view keyword : {"StartHTML", "EndHTML", "StartFragment", "EndFragment"}) {
        const auto offset = HeaderOffset(block, keyword);
        if (offset && *offset > block.size() + 1) abort();
    }
    const auto document = CfHtmlDocument(block);
    if (!document) return 0;
    if (document->data() < block.data() || document->size() > block.size() ||
        document->data() - block.data() > static_cast<ptrdiff_t>(block.size() - document->size()))
        abort();
    if (document->find('\0') != std::string_view::npos) abort();

    const std::string header = BuildCfHtmlHeader(document->size());
    if (header.size() != 100) abort();
    const std::string again = header + std::string(*document) + '\0';
    const auto back = CfHtmlDocument(again);
    if (!back || *back != *document) abort();
    return 0;
}
