#include "items/ClipItem.h"

#include <iterator>
#include <map>
#include <mutex>
#include <new>

#include "base/CaptureTime.h"
#include "framework/ScopeGuards.h"
#include "items/ItemStore.h"
#include "resources/resource.h"

ClipItem::ClipItem(int32_t typeCode, unsigned typeNameId) : typeCode_(typeCode), typeNameId_(typeNameId) {
    SetCaptureTime(CurrentCaptureTime());
}

void ClipItem::SetCaptureTime(double time) { captureTime_ = time; }

const std::string& ClipItem::TypeName() const {
    // Items are made on the loading threads too.
    static std::mutex mutex;
    static std::map<unsigned, std::string> names;
    std::lock_guard<std::mutex> lock(mutex);
    auto found = names.find(typeNameId_);
    if (found != names.end()) return found->second;
    char name[1025] = {};
    if (typeNameId_) ::LoadStringA(::GetModuleHandleA(nullptr), typeNameId_, name, 1024);
    return names.emplace(typeNameId_, name).first->second;
}

std::string ClipItem::DateText() const {
    SYSTEMTIME local;
    if (!CaptureTimeToLocal(captureTime_, local)) return {};
    // A tree of the whole archive asks for every item's, and items come a day
    // at a time: the last few days' texts are kept.
    struct Day {
        WORD year, month, day;
        std::string text;
    };
    static std::mutex mutex;
    static Day recent[4] = {};
    static size_t next = 0;
    std::lock_guard<std::mutex> lock(mutex);
    for (const Day& day : recent)
        if (day.year == local.wYear && day.month == local.wMonth && day.day == local.wDay && day.year)
            return day.text;
    char text[1025] = {};
    if (::GetDateFormatA(LOCALE_USER_DEFAULT, 0, &local, nullptr, text, 1024) <= 0) return {};
    recent[next] = {local.wYear, local.wMonth, local.wDay, text};
    next = (next + 1) % std::size(recent);
    return text;
}

ClipItem::~ClipItem() {
    if (store_) store_->Forget(*this);
}

bool ClipItem::LoadData(ByteSpan data) {
    if (!ReadData(data)) return false;
    LeaveLargeDataOnDisk();
    return true;
}

bool ClipItem::EnsureData() const {
    if (!dataOnDisk_) return true;
    // The data read back is a copy of the file's: logically the item is unchanged.
    auto& self = const_cast<ClipItem&>(*this);
    const uint64_t version = dataVersion_;
    bool read = false;
    try {
        read = store_ && store_->ReadBack(self);
    } catch (...) {
        read = false;
    }
    // Reading the file is no change of the data.
    self.dataVersion_ = version;
    if (read) return true;
    // Whatever a failed read left is not the item's data: it stays on disk, to
    // be tried again at the next use.
    self.ReleaseData();
    self.dataOnDisk_ = true;
    return false;
}

void ClipItem::LeaveDataOnDisk() {
    if (!CanLeaveDataOnDisk()) return;
    ReleaseData();
    dataOnDisk_ = true;
}

void ClipItem::PrepareChange() {
    dataOnDisk_ = false;
    ++dataVersion_;
    ReleaseData();
}

bool ClipItem::WriteData(RecordFileWriter& file) const {
    const ItemPayload payload = WriterPayload();
    return !payload.write || payload.write(file);
}

bool ClipItem::PutOnClipboard(HWND owner) const {
    ClipboardBlocks blocks;
    if (!RenderClipboard(blocks)) return false;
    ClipboardSession clipboard(owner);
    if (clipboard.IsOpen()) blocks.SetAll();
    return true;
}

void ClipboardBlocks::Add(UINT format, UniqueGlobal memory) {
    if (format && memory) blocks_.push_back({format, std::move(memory), UniqueEnhMetaFile()});
}

void ClipboardBlocks::AddMetafile(UniqueEnhMetaFile metafile) {
    if (metafile) blocks_.push_back({CF_ENHMETAFILE, UniqueGlobal(), std::move(metafile)});
}

void ClipboardBlocks::SetAll() {
    for (Block& block : blocks_) {
        if (block.metafile) {
            if (::SetClipboardData(block.format, block.metafile.get())) block.metafile.release();
        } else if (::SetClipboardData(block.format, block.memory.get())) {
            block.memory.release();  // the clipboard owns it now
        }
    }
    blocks_.clear();
}

bool CopyItemsToClipboard(const std::vector<const ClipItem*>& items, HWND owner, const ClipItem** unreadable) {
    std::vector<ClipboardBlocks> blocks(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        bool rendered = false;
        try {
            rendered = items[i]->RenderClipboard(blocks[i]);
        } catch (const std::bad_alloc&) {
            rendered = false;
        }
        if (!rendered) {
            if (unreadable) *unreadable = items[i];
            return false;
        }
    }
    ClipboardSession clipboard(owner);
    if (!clipboard.IsOpen()) return true;
    ::EmptyClipboard();
    for (ClipboardBlocks& itemBlocks : blocks) itemBlocks.SetAll();
    return true;
}

void ReportUnreadableItem(const ClipItem& item) {
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    char format[512] = {}, title[256] = {};
    ::LoadStringA(instance, IDS_ITEM_UNREADABLE, format, sizeof(format));
    ::LoadStringA(instance, IDS_PRODUCT_NAME, title, sizeof(title));
    std::string text(format);
    const size_t mark = text.find("%s");
    if (mark != std::string::npos) text.replace(mark, 2, item.RecordPath());
    ::MessageBoxA(::GetActiveWindow(), text.c_str(), title, MB_OK | MB_ICONERROR);
}
