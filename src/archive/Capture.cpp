// One clipboard change into the archive. The clipboard is held open only while
// its data is copied out; compressing and writing the items happens after it
// is closed, so a large picture never keeps other programs waiting.
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <optional>
#include <vector>

#include "archive/ItemArchive.h"
#include "archive/ItemFile.h"
#include "framework/ScopeGuards.h"
#include "framework/UniqueHandle.h"
#include "items/BitmapItem.h"
#include "items/CodePage.h"
#include "items/HtmlItem.h"
#include "items/MetafileItem.h"
#include "items/RtfItem.h"
#include "items/TextItem.h"
#include "shell/Settings.h"

namespace {

// Formats passed over without asking their names: the predefined ones other
// than the bitmap and metafile triggers, and the display, private and GDI ranges.
bool IsPassedOver(UINT format) {
    switch (format) {
    case 1: case 3: case 4: case 5: case 7: case 9: case 10: case 11: case 12: case 13:
    case 15: case 16: case 17:
    case 0x80: case 0x81: case 0x82: case 0x83: case 0x8E:
    case 0x200: case 0x2FF: case 0x300: case 0x3FF:
        return true;
    default:
        return false;
    }
}

// The bytes of a global-memory format, bounded by the block's real size.
std::optional<Bytes> CopyGlobalData(UINT format) {
    HANDLE data = ::GetClipboardData(format);
    if (!data) return std::nullopt;
    GlobalLockGuard lock(data);
    if (!lock) return std::nullopt;
    const auto* bytes = static_cast<const uint8_t*>(lock.data());
    try {
        return Bytes(bytes, bytes + lock.size());
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

// The clipboard's text: UTF-16 when offered, else the ANSI text converted.
std::optional<std::wstring> CopyText() {
    if (::IsClipboardFormatAvailable(CF_UNICODETEXT)) {
        HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
        if (!data) return std::nullopt;
        GlobalLockGuard lock(data);
        if (!lock) return std::nullopt;
        const auto* text = static_cast<const wchar_t*>(lock.data());
        return std::wstring(text, wcsnlen(text, lock.size() / sizeof(wchar_t)));
    }
    if (::IsClipboardFormatAvailable(CF_TEXT)) {
        HANDLE data = ::GetClipboardData(CF_TEXT);
        if (!data) return std::nullopt;
        GlobalLockGuard lock(data);
        if (!lock) return std::nullopt;
        const auto* text = static_cast<const char*>(lock.data());
        return ToWide(std::string_view(text, strnlen(text, lock.size())), CP_ACP);
    }
    return std::nullopt;
}

bool NameIs(UINT format, const char* wanted) {
    char name[520] = {};
    if (::GetClipboardFormatNameA(format, name, sizeof(name) - 1) <= 0) return false;
    return ::lstrcmpiA(name, wanted) == 0;
}

// What one change offers, copied out while the clipboard is open.
struct Snapshot {
    enum Kind { kBitmap, kMetafile, kRtf, kHtml };
    struct Entry {
        Kind kind;
        std::shared_ptr<const Bytes> data;  // CF_BITMAP and CF_TIFF share one CF_DIB copy
        std::shared_ptr<UniqueEnhMetaFile> metafile;
    };
    std::optional<std::wstring> text;
    std::vector<Entry> entries;
};

Snapshot TakeSnapshot(const Settings& settings) {
    Snapshot snapshot;
    if (settings.ProcessTexts) snapshot.text = CopyText();
    std::shared_ptr<const Bytes> dib;
    bool dibTried = false;
    for (UINT format = ::EnumClipboardFormats(0); format; format = ::EnumClipboardFormats(format)) {
        if (IsPassedOver(format)) continue;
        if (format == CF_BITMAP || format == CF_TIFF) {
            if (!settings.ProcessImages) continue;
            if (!dibTried) {
                dibTried = true;
                if (auto bytes = CopyGlobalData(CF_DIB)) dib = std::make_shared<const Bytes>(std::move(*bytes));
            }
            if (dib) snapshot.entries.push_back({Snapshot::kBitmap, dib, nullptr});
        } else if (format == CF_ENHMETAFILE) {
            if (!settings.ProcessMetafiles) continue;
            HENHMETAFILE shown = static_cast<HENHMETAFILE>(::GetClipboardData(CF_ENHMETAFILE));
            if (!shown) continue;
            auto copy = std::make_shared<UniqueEnhMetaFile>(::CopyEnhMetaFileA(shown, nullptr));
            if (*copy) snapshot.entries.push_back({Snapshot::kMetafile, nullptr, copy});
        } else if (NameIs(format, "Rich Text Format")) {
            if (!settings.ProcessRTF) continue;
            if (auto bytes = CopyGlobalData(format))
                snapshot.entries.push_back({Snapshot::kRtf, std::make_shared<const Bytes>(std::move(*bytes)), nullptr});
        } else if (NameIs(format, "HTML Format")) {
            if (!settings.ProcessHTML) continue;
            if (auto bytes = CopyGlobalData(format))
                snapshot.entries.push_back({Snapshot::kHtml, std::make_shared<const Bytes>(std::move(*bytes)), nullptr});
        }
    }
    return snapshot;
}

std::unique_ptr<ClipItem> MakeItem(const Snapshot::Entry& entry) {
    switch (entry.kind) {
    case Snapshot::kBitmap: {
        auto item = std::make_unique<BitmapItem>();
        if (item->SetFromDib(entry.data->data(), entry.data->size())) return item;
        break;
    }
    case Snapshot::kMetafile: {
        auto item = std::make_unique<MetafileItem>();
        if (item->SetMetafile(entry.metafile->get())) return item;
        break;
    }
    case Snapshot::kRtf: {
        auto item = std::make_unique<RtfItem>();
        if (item->SetRtf(entry.data->data(), entry.data->size())) return item;
        break;
    }
    case Snapshot::kHtml: {
        auto item = std::make_unique<HtmlItem>();
        if (item->SetFromCfHtml(entry.data->data(), entry.data->size())) return item;
        break;
    }
    }
    return nullptr;
}

// Password managers and similar programs mark what must not be kept.
bool OffersPrivacyMark() {
    static const UINT exclude = ::RegisterClipboardFormatA("ExcludeClipboardContentFromMonitorProcessing");
    static const UINT ignore = ::RegisterClipboardFormatA("Clipboard Viewer Ignore");
    return ::IsClipboardFormatAvailable(exclude) || ::IsClipboardFormatAvailable(ignore);
}

// With the clipboard open: the two marks, or "CanIncludeInClipboardHistory" holding 0.
bool IsMarkedPrivate() {
    if (OffersPrivacyMark()) return true;
    static const UINT history = ::RegisterClipboardFormatA("CanIncludeInClipboardHistory");
    if (!::IsClipboardFormatAvailable(history)) return false;
    auto value = CopyGlobalData(history);
    if (!value || value->size() < sizeof(DWORD)) return false;
    DWORD allowed = 0;
    std::memcpy(&allowed, value->data(), sizeof(allowed));
    return allowed == 0;
}

}  // namespace

void ItemArchive::Capture(HWND sourceWindow) {
    if (::CountClipboardFormats() == 0 || !::IsWindow(sourceWindow)) return;
    const Settings& settings = AppSettings();

    lastClipboardSequence_ = 0;
    Snapshot snapshot;
    LARGE_INTEGER frequency, opened, closed;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&opened);
    {
        ClipboardSession clipboard(sourceWindow, 5);
        if (!clipboard.IsOpen()) {
            // Unreadable now: the change is still recorded, unless it is marked private.
            if (!OffersPrivacyMark()) AddCaptureRecord(sourceWindow);
            return;
        }
        if (IsMarkedPrivate()) {
            lastClipboardSequence_ = ::GetClipboardSequenceNumber();
            return;
        }
        snapshot = TakeSnapshot(settings);
        // Data rendered on request while the clipboard was open raised the number.
        if (snapshot.text || !snapshot.entries.empty()) lastClipboardSequence_ = ::GetClipboardSequenceNumber();
    }
    ::QueryPerformanceCounter(&closed);
    lastClipboardHoldMs_ = 1000.0 * static_cast<double>(closed.QuadPart - opened.QuadPart) /
                           static_cast<double>(frequency.QuadPart);

    CaptureRecord* record = AddCaptureRecord(sourceWindow);
    if (!record) return;

    bool added = false;
    auto keep = [&](std::unique_ptr<ClipItem> item) {
        if (!item) return;
        item->SetSourceGuid(record->CaptureGuid);
        ClipItem* raw = item.get();
        items_.push_back(std::move(item));
        // An item whose file cannot be written stays for this run.
        StoreItem(*raw, settings.ArchiveFolder);
        OnItemAdded(raw);
        added = true;
    };
    if (snapshot.text) {
        auto text = std::make_unique<TextItem>();
        text->SetText(*snapshot.text);
        keep(std::move(text));
    }
    for (const Snapshot::Entry& entry : snapshot.entries) keep(MakeItem(entry));

    if (added) {
        CheckDiskSize();
        Trim();
    }
}
