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
#include "base/AllocationCheck.h"
#include "base/CodePage.h"
#include "base/Limits.h"
#include "framework/ScopeGuards.h"
#include "framework/UniqueHandle.h"
#include "items/BitmapItem.h"
#include "items/HtmlItem.h"
#include "items/MetafileItem.h"
#include "items/RtfItem.h"
#include "items/TextItem.h"

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

// Room for the headers and colour table of a picture whose bits reach the ceiling.
constexpr size_t kMaxBlockBytes = static_cast<size_t>(kMaxItemDataBytes) + 64 * 1024;

// The bytes of a global-memory format, bounded by the block's real size. A block
// past the ceiling is not taken: it could not be stored and read back.
std::optional<Bytes> CopyGlobalData(UINT format) {
    HANDLE data = ::GetClipboardData(format);
    if (!data) return std::nullopt;
    GlobalLockGuard lock(data);
    if (!lock || lock.size() > kMaxBlockBytes) return std::nullopt;
    const auto* bytes = static_cast<const uint8_t*>(lock.data());
    CheckAllocation(lock.size());
    return Bytes(bytes, bytes + lock.size());
}

// The clipboard's text: UTF-16 when offered, else the ANSI text converted.
std::optional<std::wstring> CopyText() {
    if (::IsClipboardFormatAvailable(CF_UNICODETEXT)) {
        HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
        if (!data) return std::nullopt;
        GlobalLockGuard lock(data);
        if (!lock) return std::nullopt;
        const auto* text = static_cast<const wchar_t*>(lock.data());
        const size_t length = wcsnlen(text, lock.size() / sizeof(wchar_t));
        if (length > kMaxItemDataBytes / sizeof(wchar_t)) return std::nullopt;
        CheckAllocation(length * sizeof(wchar_t));
        return std::wstring(text, length);
    }
    if (::IsClipboardFormatAvailable(CF_TEXT)) {
        HANDLE data = ::GetClipboardData(CF_TEXT);
        if (!data) return std::nullopt;
        GlobalLockGuard lock(data);
        if (!lock) return std::nullopt;
        const auto* text = static_cast<const char*>(lock.data());
        const size_t length = strnlen(text, lock.size());
        if (length > kMaxItemDataBytes / sizeof(wchar_t)) return std::nullopt;
        return ToWide(std::string_view(text, length), CP_ACP);
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
    enum Kind { kBitmap, kMetafile, kRtf, kHtml, kPng };
    struct Entry {
        Kind kind;
        std::shared_ptr<const Bytes> data;  // CF_BITMAP and CF_TIFF share one CF_DIB copy
        std::shared_ptr<UniqueEnhMetaFile> metafile;
    };
    std::optional<std::wstring> text;
    std::vector<Entry> entries;

    bool Empty() const { return !text && entries.empty(); }
    // Tells two snapshots of the same data apart from different data.
    uint64_t Fingerprint() const;
};

void Mix(uint64_t& hash, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
}

uint64_t Snapshot::Fingerprint() const {
    uint64_t hash = 14695981039346656037ull;
    const uint8_t hasText = text ? 1 : 0;
    Mix(hash, &hasText, 1);
    if (text) Mix(hash, text->data(), text->size() * sizeof(wchar_t));
    for (const Entry& entry : entries) {
        Mix(hash, &entry.kind, sizeof(entry.kind));
        if (entry.data) Mix(hash, entry.data->data(), entry.data->size());
        if (entry.metafile) {
            const UINT size = ::GetEnhMetaFileBits(entry.metafile->get(), 0, nullptr);
            Mix(hash, &size, sizeof(size));
        }
    }
    return hash;
}

// A bitmap the capture takes (CF_BITMAP comes with every CF_DIB).
bool OffersBitmap() { return ::IsClipboardFormatAvailable(CF_DIB) || ::IsClipboardFormatAvailable(CF_BITMAP); }

// What the user's copy offers of each kept kind. A format too large to copy out
// (the ceiling, or memory) is passed over; the others are still taken.
Snapshot TakeSnapshot(const CaptureFormats& formats) {
    Snapshot snapshot;
    if (formats.texts) {
        try {
            snapshot.text = CopyText();
        } catch (const std::bad_alloc&) {
        }
    }
    std::shared_ptr<const Bytes> dib;
    bool dibTried = false;
    for (UINT format = ::EnumClipboardFormats(0); format; format = ::EnumClipboardFormats(format)) {
        if (IsPassedOver(format)) continue;
        try {
        if (format == CF_BITMAP || format == CF_TIFF) {
            if (!formats.images) continue;
            if (!dibTried) {
                dibTried = true;
                if (auto bytes = CopyGlobalData(CF_DIB)) dib = std::make_shared<const Bytes>(std::move(*bytes));
            }
            if (dib) snapshot.entries.push_back({Snapshot::kBitmap, dib, nullptr});
        } else if (format == CF_ENHMETAFILE) {
            if (!formats.metafiles) continue;
            if (::GetEnhMetaFileBits(static_cast<HENHMETAFILE>(::GetClipboardData(CF_ENHMETAFILE)), 0, nullptr) >
                kMaxItemDataBytes)
                continue;
            HENHMETAFILE shown = static_cast<HENHMETAFILE>(::GetClipboardData(CF_ENHMETAFILE));
            if (!shown) continue;
            auto copy = std::make_shared<UniqueEnhMetaFile>(::CopyEnhMetaFileA(shown, nullptr));
            if (*copy) snapshot.entries.push_back({Snapshot::kMetafile, nullptr, copy});
        } else if (NameIs(format, "PNG")) {
            // Browsers, screenshot tools and Linux programs (X11's image/png)
            // often offer a picture only as a PNG. With a bitmap beside it, the
            // bitmap is the picture already taken.
            if (!formats.images || OffersBitmap()) continue;
            if (auto bytes = CopyGlobalData(format))
                snapshot.entries.push_back({Snapshot::kPng, std::make_shared<const Bytes>(std::move(*bytes)), nullptr});
        } else if (NameIs(format, "Rich Text Format")) {
            if (!formats.rtf) continue;
            if (auto bytes = CopyGlobalData(format))
                snapshot.entries.push_back({Snapshot::kRtf, std::make_shared<const Bytes>(std::move(*bytes)), nullptr});
        } else if (NameIs(format, "HTML Format")) {
            if (!formats.html) continue;
            if (auto bytes = CopyGlobalData(format))
                snapshot.entries.push_back({Snapshot::kHtml, std::make_shared<const Bytes>(std::move(*bytes)), nullptr});
        }
        } catch (const std::bad_alloc&) {
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
    case Snapshot::kPng: {
        auto item = std::make_unique<BitmapItem>();
        if (item->SetFromPng(entry.data->data(), entry.data->size())) return item;
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

// Password managers on Linux desktops mark their copies with this X11 target
// holding "secret"; Wine passes it through as a registered format.
bool IsPasswordManagerSecret() {
    static const UINT hint = ::RegisterClipboardFormatA("x-kde-passwordManagerHint");
    if (!::IsClipboardFormatAvailable(hint)) return false;
    auto value = CopyGlobalData(hint);
    if (!value) return false;
    constexpr std::string_view kSecret = "secret";
    const std::string_view text(reinterpret_cast<const char*>(value->data()), value->size());
    return text.substr(0, text.find('\0')) == kSecret;
}

// With the clipboard open: the marks, or "CanIncludeInClipboardHistory" holding 0.
bool IsMarkedPrivate() {
    if (OffersPrivacyMark() || IsPasswordManagerSecret()) return true;
    static const UINT history = ::RegisterClipboardFormatA("CanIncludeInClipboardHistory");
    if (!::IsClipboardFormatAvailable(history)) return false;
    auto value = CopyGlobalData(history);
    if (!value || value->size() < sizeof(DWORD)) return false;
    DWORD allowed = 0;
    std::memcpy(&allowed, value->data(), sizeof(allowed));
    return allowed == 0;
}

}  // namespace

bool ItemArchive::Capture(HWND sourceWindow, CaptureMode mode) {
    // No window means "Unknown Application"; a window that has gone is no source.
    if (::CountClipboardFormats() == 0 || (sourceWindow && !::IsWindow(sourceWindow))) return false;

    lastClipboardSequence_ = 0;
    // What the writer has stored since the last capture leaves memory.
    writer_.ReleaseWrittenData();
    Snapshot snapshot;
    LARGE_INTEGER frequency, opened, closed;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&opened);
    {
        ClipboardSession clipboard(sourceWindow, 5);
        if (!clipboard.IsOpen()) {
            // Unreadable now: the change is still recorded, unless it is marked private.
            if (!OffersPrivacyMark() && mode == CaptureMode::kEveryChange) AddCaptureRecord(sourceWindow);
            return false;
        }
        if (IsMarkedPrivate()) {
            lastClipboardSequence_ = ::GetClipboardSequenceNumber();
            return false;
        }
        snapshot = TakeSnapshot(options_.formats);
        // Data rendered on request while the clipboard was open raised the number.
        // A clipboard found empty (Wine's bridge to X11 refilled it meanwhile) is
        // no clipboard taken: its refill is announced and taken then.
        if (!snapshot.Empty()) lastClipboardSequence_ = ::GetClipboardSequenceNumber();
    }
    ::QueryPerformanceCounter(&closed);
    lastClipboardHoldMs_ = 1000.0 * static_cast<double>(closed.QuadPart - opened.QuadPart) /
                           static_cast<double>(frequency.QuadPart);

    const uint64_t fingerprint = snapshot.Fingerprint();
    if (mode == CaptureMode::kUnlessAlreadyCaptured && fingerprint == lastFingerprint_) return false;
    lastFingerprint_ = fingerprint;

    CaptureRecord* record = AddCaptureRecord(sourceWindow);
    if (!record) return false;

    bool added = false;
    auto keep = [&](std::unique_ptr<ClipItem> item) {
        if (!item) return;
        item->SetSourceGuid(record->CaptureGuid);
        ClipItem* raw = item.get();
        items_.push_back(std::move(item));
        // An item whose file cannot be written stays for this run, with its data.
        const std::string path = NewItemPath(*raw, options_.folder);
        if (!path.empty()) writer_.QueueItem(*raw, path);
        OnItemAdded(raw);
        added = true;
    };
    // Memory may run short for one item (a large one, its compressed copy): that
    // item is left out, and the others of the change are still kept.
    auto keepSafely = [&](auto make) {
        try {
            keep(make());
        } catch (const std::bad_alloc&) {
        }
    };
    if (snapshot.text) {
        keepSafely([&]() -> std::unique_ptr<ClipItem> {
            auto text = std::make_unique<TextItem>();
            if (!text->SetText(*snapshot.text)) return nullptr;
            return text;
        });
    }
    snapshot.text.reset();
    for (Snapshot::Entry& entry : snapshot.entries) {
        keepSafely([&] { return MakeItem(entry); });
        // The copy is not needed once its item holds the data.
        entry.data.reset();
        entry.metafile.reset();
    }
    return added;
}
