#include "items/MarkupItem.h"

#include <atomic>
#include <cstring>
#include <limits>

#include "base/CodePage.h"
#include "base/Limits.h"
#include "base/RecordFile.h"
#include "framework/ScopeGuards.h"
#include "framework/UniqueHandle.h"
#include "items/SaveDialog.h"

MarkupItem::MarkupItem(int32_t typeCode, unsigned typeNameId) : ClipItem(typeCode, typeNameId) { NextRevision(); }

bool MarkupItem::SetContent(std::string_view document) {
    PrepareChange();
    if (document.empty()) return true;
    // What could not be read back is not taken at all.
    if (document.size() > kMaxItemDataBytes) return false;
    Bytes block;
    // The "B" field counts its bytes in 32 bits.
    if (!CompressBlock(document.data(), document.size(), block) || block.size() > std::numeric_limits<uint32_t>::max())
        return false;
    block_ = std::move(block);
    return true;
}

bool MarkupItem::GetContent(Bytes& content) const {
    content.clear();
    if (!EnsureData()) return false;
    if (block_.empty()) return true;
    return DecompressBlock(block_.data(), block_.size(), content);
}

void MarkupItem::ReleaseData() {
    block_.clear();
    block_.shrink_to_fit();
    NextRevision();
}

void MarkupItem::NextRevision() {
    static std::atomic<uint64_t> last{0};
    revision_ = ++last;
}

bool MarkupItem::WriteData(RecordFileWriter& file) const {
    if (block_.empty()) return true;
    return file.Field('B', block_.data(), block_.size());
}

bool MarkupItem::ReadData(ByteSpan data) {
    PrepareChange();
    block_.assign(data.begin(), data.end());
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

void MarkupItem::PutDocumentOnClipboard(HWND owner, const char* formatName, std::string_view header,
                                        const Bytes& content) {
    ClipboardSession clipboard(owner);
    if (!clipboard.IsOpen()) return;
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
    if (::SetClipboardData(::RegisterClipboardFormatA(formatName), memory.get())) memory.release();
}

bool MarkupItem::WriteContentFile(const std::string& path, std::string_view preamble) const {
    Bytes content;
    if (!GetContent(content)) return false;
    std::string file(preamble);
    file.append(reinterpret_cast<const char*>(content.data()), content.size());
    return WriteWholeFile(path, file.data(), file.size());
}
