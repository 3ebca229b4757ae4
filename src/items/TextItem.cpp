#include "items/TextItem.h"

#include <cstring>
#include <cwchar>

#include "base/AllocationCheck.h"
#include "base/CodePage.h"
#include "base/Compression.h"
#include "base/Limits.h"
#include "base/RecordFile.h"
#include "framework/ScopeGuards.h"
#include "framework/UniqueHandle.h"
#include "items/SaveDialog.h"
#include "resources/resource.h"

namespace {

const std::vector<SaveChoice> kTextChoices = {
    {" ANSI Text (*.txt)", "*.txt ", ".txt"},
    {" UNICODE Text(*.txt)", "*.txt", ".txt"},
    {" UTF8 Text(*.txt)", "*.txt", ".txt"},
};

// A zero-terminated copy of the text in movable global memory.
template <typename Char>
UniqueGlobal GlobalText(const std::basic_string<Char>& text) {
    const size_t bytes = (text.size() + 1) * sizeof(Char);
    UniqueGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, bytes));
    if (!memory) return memory;
    {
        GlobalLockGuard lock(memory.get());
        if (!lock) return UniqueGlobal();
        std::memcpy(lock.data(), text.c_str(), bytes);
    }
    return memory;
}

const std::wstring kNoText;

}  // namespace

TextItem::TextItem() : ClipItem(kTextItemType, IDS_TYPE_TEXT) {}

bool TextItem::SetText(std::wstring_view text) {
    PrepareChange();
    const size_t end = text.find(L'\0');
    if (end != std::wstring_view::npos) text = text.substr(0, end);
    // What could not be stored and read back is not taken at all.
    if (text.size() > kMaxItemDataBytes / sizeof(wchar_t)) return false;
    if (text.empty()) return true;
    CheckAllocation(text.size() * sizeof(wchar_t));
    text_ = std::make_shared<const std::wstring>(text);
    return true;
}

const std::wstring& TextItem::Text() const {
    EnsureData();
    return text_ ? *text_ : kNoText;
}

void TextItem::ReleaseData() { text_.reset(); }

ItemPayload TextItem::WriterPayload() const {
    if (!text_) return {};
    return {[text = text_](RecordFileWriter& file) {
                Bytes block;
                if (!CompressBlock(text->data(), text->size() * sizeof(wchar_t), block)) return false;
                return file.Field('B', block.data(), block.size());
            },
            DataBytes()};
}

bool TextItem::ReadData(ByteSpan data) {
    PrepareChange();
    Bytes bytes;
    return DecompressBlock(data.data(), data.size(), bytes) && SetTextBytes(bytes);
}

bool TextItem::SetTextBytes(const Bytes& bytes) {
    return SetText(
        std::wstring_view(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t)));
}

bool TextItem::LoadData(ByteSpan data) {
    if (!CanLeaveDataOnDisk()) return ReadData(data);
    // Most texts are short: they are taken in one pass. A longer one is only
    // counted through; it is usable whenever its block inflates.
    Bytes bytes;
    if (DecompressBlock(data.data(), data.size(), bytes, kKeptInMemoryBytes)) return SetTextBytes(bytes);
    size_t size = 0;
    if (!InflatedSize(data.data(), data.size(), size)) return false;
    PrepareChange();
    LeaveDataOnDisk();
    return true;
}

bool TextItem::WriteTextFile(const std::string& path, int choice) const {
    if (!EnsureData()) return false;
    const std::wstring& text = Text();
    switch (choice) {
    case 1: {
        const std::string ansi = ToMultiByte(text, CP_ACP);
        return WriteWholeFile(path, ansi.data(), ansi.size());
    }
    case 2:
        return WriteWholeFile(path, text.data(), text.size() * sizeof(wchar_t));
    case 3: {
        const std::string utf8 = ToMultiByte(text, CP_UTF8);
        return WriteWholeFile(path, utf8.data(), utf8.size());
    }
    default:
        return false;
    }
}

bool TextItem::SaveAs() {
    if (!EnsureData()) {
        ReportUnreadableItem(*this);
        return false;
    }
    return SaveThroughDialog(kTextChoices, ".txt",
                             [this](const std::string& path, int choice) { return WriteTextFile(path, choice); });
}

bool TextItem::ShowInExternalViewer(const std::string& temporaryFolder) {
    if (!EnsureData()) {
        ReportUnreadableItem(*this);
        return false;
    }
    return OpenInExternalViewer(temporaryFolder, ".txt",
                                [this](const std::string& path) { return WriteTextFile(path, 1); });
}

bool TextItem::RenderClipboard(ClipboardBlocks& blocks) const {
    if (!EnsureData()) return false;
    // An item without text places an empty text, so that copying it still
    // replaces what the clipboard held, as the user asked. Every system this
    // program runs on is of the NT family, which makes the other text formats
    // from CF_UNICODETEXT; the ANSI text stands in when that cannot be made.
    const std::wstring& text = Text();
    if (UniqueGlobal unicode = GlobalText(text))
        blocks.Add(CF_UNICODETEXT, std::move(unicode));
    else
        blocks.Add(CF_TEXT, GlobalText(ToMultiByte(text, CP_ACP)));
    return true;
}
