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

// Every system this program runs on is of the NT family, which makes the other
// text formats from CF_UNICODETEXT; the ANSI path stays for when that fails.
bool PutUnicodeText(const std::wstring& text) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    UniqueGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, bytes));
    if (!memory) return false;
    {
        GlobalLockGuard lock(memory.get());
        if (!lock) return false;
        std::memcpy(lock.data(), text.c_str(), bytes);
    }
    if (!::SetClipboardData(CF_UNICODETEXT, memory.get())) return false;
    memory.release();  // the clipboard owns it now
    return true;
}

void PutAnsiText(const std::wstring& text) {
    const std::string ansi = ToMultiByte(text, CP_ACP);
    UniqueGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, ansi.size() + 1));
    if (!memory) return;
    {
        GlobalLockGuard lock(memory.get());
        if (!lock) return;
        std::memcpy(lock.data(), ansi.c_str(), ansi.size() + 1);
    }
    if (::SetClipboardData(CF_TEXT, memory.get())) memory.release();
}

}  // namespace

TextItem::TextItem() : ClipItem(kTextItemType, IDS_TYPE_TEXT) {}

bool TextItem::SetText(std::wstring_view text) {
    PrepareChange();
    const size_t end = text.find(L'\0');
    if (end != std::wstring_view::npos) text = text.substr(0, end);
    // What could not be stored and read back is not taken at all.
    if (text.size() > kMaxItemDataBytes / sizeof(wchar_t)) return false;
    CheckAllocation(text.size() * sizeof(wchar_t));
    text_.assign(text);
    return true;
}

void TextItem::ReleaseData() {
    text_.clear();
    text_.shrink_to_fit();
}

bool TextItem::WriteData(RecordFileWriter& file) const {
    if (text_.empty()) return true;
    Bytes block;
    if (!CompressBlock(text_.data(), text_.size() * sizeof(wchar_t), block)) return false;
    return file.Field('B', block.data(), block.size());
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
    return SaveThroughDialog(kTextChoices, ".txt",
                             [this](const std::string& path, int choice) { return WriteTextFile(path, choice); });
}

bool TextItem::ShowInExternalViewer(const std::string& temporaryFolder) {
    return OpenInExternalViewer(temporaryFolder, ".txt",
                                [this](const std::string& path) { return WriteTextFile(path, 1); });
}

void TextItem::PutOnClipboard(HWND owner) {
    ClipboardSession clipboard(owner);
    if (!clipboard.IsOpen()) return;
    // An item without text places an empty text, so that copying it still
    // replaces what the clipboard held, as the user asked.
    if (!PutUnicodeText(Text())) PutAnsiText(Text());
}
