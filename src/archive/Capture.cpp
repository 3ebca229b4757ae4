// One clipboard change into the archive. The clipboard is held open only while
// its data is copied out; compressing and writing the items happens after it
// is closed, so a large picture never keeps other programs waiting.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <optional>
#include <vector>

#include "archive/ExcludeList.h"
#include "archive/ItemArchive.h"
#include "archive/ItemFile.h"
#include "base/AllocationCheck.h"
#include "base/CaptureTime.h"
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

// The registered formats a capture looks for. Their ids are compared rather
// than their names asked for: asking costs a trip to the server for every
// offered format while the clipboard is held. (Registration ignores case, as
// the names were compared.)
struct KnownFormats {
    UINT png = ::RegisterClipboardFormatA("PNG");
    UINT rtf = ::RegisterClipboardFormatA("Rich Text Format");
    UINT html = ::RegisterClipboardFormatA("HTML Format");
    // Password managers and similar programs mark what must not be kept.
    UINT exclude = ::RegisterClipboardFormatA("ExcludeClipboardContentFromMonitorProcessing");
    UINT ignore = ::RegisterClipboardFormatA("Clipboard Viewer Ignore");
    // Password managers on Linux desktops mark their copies with this X11
    // target holding "secret"; Wine passes it through as a registered format.
    UINT passwordHint = ::RegisterClipboardFormatA("x-kde-passwordManagerHint");
    UINT history = ::RegisterClipboardFormatA("CanIncludeInClipboardHistory");
};

const KnownFormats& Known() {
    static const KnownFormats known;
    return known;
}

// The formats the change offers (the system's synthesized ones too), listed
// once while the clipboard is open, so that each question about them is
// answered without another trip to the server.
class OfferedFormats {
public:
    OfferedFormats() {
        for (UINT format = ::EnumClipboardFormats(0); format; format = ::EnumClipboardFormats(format))
            formats_.push_back(format);
    }
    bool Has(UINT format) const { return std::find(formats_.begin(), formats_.end(), format) != formats_.end(); }
    const std::vector<UINT>& All() const { return formats_; }

private:
    std::vector<UINT> formats_;
};

// The clipboard's text: UTF-16 when offered, else the ANSI text converted.
std::optional<std::wstring> CopyText(const OfferedFormats& offered) {
    if (offered.Has(CF_UNICODETEXT)) {
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
    if (offered.Has(CF_TEXT)) {
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
            // Two pictures of one size are told apart by their records.
            const UINT size = ::GetEnhMetaFileBits(entry.metafile->get(), 0, nullptr);
            Mix(hash, &size, sizeof(size));
            try {
                Bytes bits(size);
                if (size && ::GetEnhMetaFileBits(entry.metafile->get(), size, bits.data()) == size)
                    Mix(hash, bits.data(), bits.size());
            } catch (const std::bad_alloc&) {
            }
        }
    }
    return hash;
}

// A bitmap the capture takes (CF_BITMAP comes with every CF_DIB).
bool OffersBitmap(const OfferedFormats& offered) { return offered.Has(CF_DIB) || offered.Has(CF_BITMAP); }

// What the user's copy offers of each kept kind. A format too large to copy out
// (the ceiling, or memory) is passed over; the others are still taken.
Snapshot TakeSnapshot(const CaptureFormats& formats, const OfferedFormats& offered) {
    Snapshot snapshot;
    if (formats.texts) {
        try {
            snapshot.text = CopyText(offered);
        } catch (const std::bad_alloc&) {
        }
    }
    std::shared_ptr<const Bytes> dib;
    bool dibTried = false;
    for (UINT format : offered.All()) {
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
        } else if (format == Known().png) {
            // Browsers, screenshot tools and Linux programs (X11's image/png)
            // often offer a picture only as a PNG. With a bitmap beside it, the
            // bitmap is the picture already taken.
            if (!formats.images || OffersBitmap(offered)) continue;
            if (auto bytes = CopyGlobalData(format))
                snapshot.entries.push_back({Snapshot::kPng, std::make_shared<const Bytes>(std::move(*bytes)), nullptr});
        } else if (format == Known().rtf) {
            if (!formats.rtf) continue;
            if (auto bytes = CopyGlobalData(format))
                snapshot.entries.push_back({Snapshot::kRtf, std::make_shared<const Bytes>(std::move(*bytes)), nullptr});
        } else if (format == Known().html) {
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

// A privacy mark among the formats that `offers` says are on the clipboard.
template <typename Offers>
bool OffersPrivacyMark(Offers offers) {
    return offers(Known().exclude) || offers(Known().ignore);
}

// With the clipboard open: a privacy mark, the password manager's hint holding
// "secret", or "CanIncludeInClipboardHistory" holding 0.
bool IsMarkedPrivate(const OfferedFormats& offered) {
    if (OffersPrivacyMark([&](UINT format) { return offered.Has(format); })) return true;
    if (offered.Has(Known().passwordHint)) {
        if (auto value = CopyGlobalData(Known().passwordHint)) {
            constexpr std::string_view kSecret = "secret";
            const std::string_view text(reinterpret_cast<const char*>(value->data()), value->size());
            if (text.substr(0, text.find('\0')) == kSecret) return true;
        }
    }
    if (!offered.Has(Known().history)) return false;
    auto value = CopyGlobalData(Known().history);
    if (!value || value->size() < sizeof(DWORD)) return false;
    DWORD allowed = 0;
    std::memcpy(&allowed, value->data(), sizeof(allowed));
    return allowed == 0;
}

}  // namespace

namespace {

// The program that announced a change may hold the clipboard a moment longer:
// opening is retried every 10 ms for about half a second.
constexpr int kOpenAttempts = 50;

}  // namespace

bool ItemArchive::Capture(HWND sourceWindow, CaptureMode mode) {
    // Every record and item of the change has the moment it was taken.
    const double changeTime = CurrentCaptureTime();
    // No window means "Unknown Application". So does a source that has closed
    // since its change was announced, or closes while it is read (a "copy and
    // close" dialog, a screenshot overlay): its change is still archived.
    auto source = [&] { return sourceWindow && ::IsWindow(sourceWindow) ? sourceWindow : nullptr; };
    if (::CountClipboardFormats() == 0) return false;
    if (!clipboardWindow_)
        clipboardWindow_.reset(::CreateWindowExA(0, "STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                                 ::GetModuleHandleA(nullptr), nullptr));

    lastClipboardSequence_ = 0;
    // A program the user excluded leaves no trace, as a change marked private does.
    if (excluded_ && excluded_->ExcludesChange(sourceWindow)) {
        lastClipboardSequence_ = ::GetClipboardSequenceNumber();
        return false;
    }
    // What the writer has stored since the last capture leaves memory.
    writer_.ReleaseWrittenData();
    Snapshot snapshot;
    LARGE_INTEGER frequency, opened, closed;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&opened);
    {
        ClipboardSession clipboard(clipboardWindow_.get(), kOpenAttempts);
        if (!clipboard.IsOpen()) {
            // Unreadable now: the change is still recorded, unless it is marked private.
            if (!OffersPrivacyMark(::IsClipboardFormatAvailable) && mode == CaptureMode::kEveryChange)
                AddCaptureRecord(source(), changeTime);
            return false;
        }
        const OfferedFormats offered;
        if (IsMarkedPrivate(offered)) {
            lastClipboardSequence_ = ::GetClipboardSequenceNumber();
            return false;
        }
        snapshot = TakeSnapshot(options_.formats, offered);
        // Data rendered on request while the clipboard was open raised the number.
        // A clipboard found empty (Wine's bridge to X11 refilled it meanwhile) is
        // no clipboard taken: its refill is announced and taken then.
        if (!snapshot.Empty()) lastClipboardSequence_ = ::GetClipboardSequenceNumber();
    }
    ::QueryPerformanceCounter(&closed);
    ownerPoll_.Nudge();
    lastClipboardHoldMs_ = 1000.0 * static_cast<double>(closed.QuadPart - opened.QuadPart) /
                           static_cast<double>(frequency.QuadPart);

    const uint64_t fingerprint = snapshot.Fingerprint();
    if (mode == CaptureMode::kUnlessAlreadyCaptured && fingerprint == lastFingerprint_) return false;
    lastFingerprint_ = fingerprint;

    // The source window is asked about only now, with the clipboard's data taken.
    CaptureRecord* record = AddCaptureRecord(source(), changeTime);
    if (!record) return false;

    bool added = false;
    auto keep = [&](std::unique_ptr<ClipItem> item) {
        if (!item) return;
        item->SetSourceGuid(record->CaptureGuid);
        item->SetCaptureTime(changeTime);
        ClipItem* raw = item.get();
        items_.push_back(std::move(item));
        NoteItemsChanged();
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
