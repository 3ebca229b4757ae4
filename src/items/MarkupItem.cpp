#include "items/MarkupItem.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>

#include "base/CodePage.h"
#include "base/Limits.h"
#include "base/RecordFile.h"
#include "framework/ScopeGuards.h"
#include "framework/UniqueHandle.h"
#include "items/SaveDialog.h"

namespace {

uint32_t BlockSum(const Bytes& block) {
    uLong sum = crc32(0, nullptr, 0);
    size_t done = 0;
    while (done < block.size()) {
        const uInt slice = static_cast<uInt>(std::min<size_t>(block.size() - done, 1u << 30));
        sum = crc32(sum, block.data() + done, slice);
        done += slice;
    }
    return static_cast<uint32_t>(sum);
}

}  // namespace

MarkupItem::MarkupItem(int32_t typeCode, unsigned typeNameId) : ClipItem(typeCode, typeNameId) { NextRevision(); }

bool MarkupItem::SetContent(std::string_view document) {
    PrepareChange();
    NextRevision();
    blockSum_ = 0;
    if (document.empty()) return true;
    // What could not be read back is not taken at all.
    if (document.size() > kMaxItemDataBytes) return false;
    Bytes block;
    // The "B" field counts its bytes in 32 bits.
    if (!CompressBlock(document.data(), document.size(), block) || block.size() > std::numeric_limits<uint32_t>::max())
        return false;
    blockSum_ = BlockSum(block);
    block_ = std::make_shared<const Bytes>(std::move(block));
    return true;
}

bool MarkupItem::GetContent(Bytes& content) const {
    content.clear();
    if (!EnsureData()) return false;
    if (!block_) return true;
    return DecompressBlock(block_->data(), block_->size(), content);
}

void MarkupItem::ReleaseData() { block_.reset(); }

void MarkupItem::NextRevision() {
    static std::atomic<uint64_t> last{0};
    revision_ = ++last;
}

ItemPayload MarkupItem::WriterPayload() const {
    if (!block_) return {};
    return {[block = block_](RecordFileWriter& file) { return file.Field('B', block->data(), block->size()); },
            block_->size()};
}

bool MarkupItem::ReadData(ByteSpan data) {
    PrepareChange();
    auto block = data.empty() ? nullptr : std::make_shared<const Bytes>(data.begin(), data.end());
    const uint32_t sum = block ? BlockSum(*block) : 0;
    // The same document read back again is no change; another one (the file
    // replaced meanwhile) is.
    if (sum != blockSum_) NextRevision();
    blockSum_ = sum;
    block_ = std::move(block);
    return true;
}

bool MarkupItem::ContainsText(const char* text, unsigned) {
    if (!text || !*text) return false;
    Bytes content;
    if (!GetContent(content) || content.empty()) return false;
    const std::string wanted = ToMultiByte(ToWide(text, CP_ACP), CP_UTF8);
    if (wanted.empty()) return false;
    std::string_view document(reinterpret_cast<const char*>(content.data()), content.size());
    // Searched as a zero-terminated string, like the clipboard block it came from.
    document = document.substr(0, document.find('\0'));
    return document.find(wanted) != std::string_view::npos;
}

void MarkupItem::AddDocumentBlock(ClipboardBlocks& blocks, const char* formatName, std::string_view header,
                                  const Bytes& content) {
    const size_t size = header.size() + content.size() + 1;
    UniqueGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, size));
    if (!memory) return;
    {
        GlobalLockGuard lock(memory.get());
        if (!lock) return;
        auto* out = static_cast<char*>(lock.data());
        std::memcpy(out, header.data(), header.size());
        if (!content.empty()) std::memcpy(out + header.size(), content.data(), content.size());
        out[size - 1] = '\0';
    }
    blocks.Add(::RegisterClipboardFormatA(formatName), std::move(memory));
}

bool MarkupItem::WriteContentFile(const std::string& path, std::string_view preamble) const {
    Bytes content;
    if (!GetContent(content)) return false;
    std::string file(preamble);
    file.append(reinterpret_cast<const char*>(content.data()), content.size());
    return WriteWholeFile(path, file.data(), file.size());
}

bool MarkupItem::SaveContentAs(const std::vector<SaveChoice>& choices, const char* extension,
                               const std::function<bool(const std::string&)>& write) {
    if (!EnsureData()) {
        ReportUnreadableItem(*this);
        return false;
    }
    return SaveThroughDialog(choices, extension, [&write](const std::string& path, int) { return write(path); });
}
