#include "archive/SourceApp.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/CaptureRecord.h"
#include "archive/RecordFile.h"
#include "items/ClipItem.h"
#include "items/Compression.h"
#include "items/DibImage.h"
#include "shell/MainWindowHandle.h"

HWND FindSourceWindow() {
    HWND owner = ::GetClipboardOwner();
    if (owner && ::IsWindow(owner) && (::GetWindowLongA(owner, GWL_STYLE) & 1)) {
        for (HWND parent = ::GetParent(owner); parent; parent = ::GetParent(owner)) owner = parent;
        return owner;
    }
    return ::GetForegroundWindow();
}

namespace {

HICON AskIcon(HWND window, WPARAM kind) {
    DWORD_PTR icon = 0;
    // A program that does not answer in time is taken to show no icon.
    if (!::SendMessageTimeoutA(window, WM_GETICON, kind, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, kWindowIconTimeoutMs,
                               &icon))
        return nullptr;
    return reinterpret_cast<HICON>(icon);
}

}  // namespace

HICON WindowIcon(HWND window) {
    if (HICON icon = AskIcon(window, ICON_BIG)) return icon;
    if (HICON icon = AskIcon(window, ICON_SMALL)) return icon;
    if (HICON icon = reinterpret_cast<HICON>(::GetClassLongPtrA(window, GCLP_HICON))) return icon;
    return reinterpret_cast<HICON>(::GetClassLongPtrA(window, GCLP_HICONSM));
}

SourceApp::SourceApp() : Title(kUnknownApplication) {}

bool SourceApp::InitFromWindow(HWND window) {
    icon_.reset();
    if (!::IsWindow(window)) return false;
    if (HICON shown = WindowIcon(window)) icon_.reset(::CopyIcon(shown));
    ClassAtom = ::GetClassLongA(window, GCW_ATOM);
    char title[kMaxTitleChars + 1] = {};
    ::GetWindowTextA(window, title, sizeof(title));
    Title = title[0] ? title : kUnknownApplication;
    return true;
}

namespace {

// Bits per pixel of the screen, the depth icon colour images are stored at.
int ScreenDepth() {
    UniqueDc screen(::CreateCompatibleDC(nullptr));
    return screen ? ::GetDeviceCaps(screen.get(), BITSPIXEL) : 32;
}

// The mask rows top-down in the word-aligned layout CreateBitmap expects.
UniqueBitmap MonochromeBitmapFrom(const DibImage& mask) {
    DibImage copy(1);
    if (!copy.ConvertFrom(mask.Info(), mask.Bits())) return UniqueBitmap();
    copy.FlipRows();
    const int width = copy.Header().biWidth;
    const int height = std::abs(copy.Header().biHeight);
    const size_t dibRow = static_cast<size_t>(RowBytes(width, 1));
    const size_t wordRow = ((static_cast<size_t>(width) + 15) / 16) * 2;
    std::vector<uint8_t> rows(wordRow * height);
    for (int y = 0; y < height; ++y) std::memcpy(&rows[y * wordRow], copy.Bits() + y * dibRow, wordRow);
    return UniqueBitmap(::CreateBitmap(width, height, 1, 1, rows.data()));
}

}  // namespace

bool SourceApp::WriteAppFile(const std::string& path) const {
    UniqueFile file = CreateRecordFile(path);
    if (!file) return false;
    const DWORD atom = ClassAtom;
    if (!WriteRecordHeader(file.get()) || !WriteField(file.get(), 'A', &atom, sizeof(atom)) ||
        !WriteTextField(file.get(), 'T', AnsiToUtf8(Title)))
        return false;
    if (!icon_) return false;

    ICONINFO info = {};
    if (!::GetIconInfo(icon_.get(), &info)) return false;
    UniqueBitmap color(info.hbmColor), maskBitmap(info.hbmMask);
    if (!color) return false;  // a monochrome icon keeps no picture

    DibImage colorImage(ScreenDepth());
    Bytes payload;
    if (!colorImage.CreateFromBitmap(color.get()) || !colorImage.ToPayload(payload)) return false;
    if (!WriteField(file.get(), 'C', payload.data(), static_cast<uint32_t>(payload.size()))) return false;

    DibImage maskImage(1);
    if (!maskImage.CreateFromBitmap(maskBitmap.get()) || !maskImage.ToPayload(payload)) return false;
    return WriteField(file.get(), 'M', payload.data(), static_cast<uint32_t>(payload.size()));
}

bool SourceApp::ReadAppFile(const std::string& path) {
    icon_.reset();
    UniqueFile file = OpenRecordFile(path);
    if (!file || !ReadRecordHeader(file.get())) return false;

    DibImage colorImage(ScreenDepth());
    DibImage maskImage(1);
    bool haveColor = false, haveMask = false;
    char tag;
    uint32_t length;
    Bytes data;
    while (ReadFieldHeader(file.get(), tag, length)) {
        switch (tag) {
        case 'M': case 'm':
            if (!ReadFieldData(file.get(), length, data) || !maskImage.LoadPayload(data.data(), data.size()))
                return false;
            haveMask = true;
            break;
        case 'C': case 'c':
            if (!ReadFieldData(file.get(), length, data) || !colorImage.LoadPayload(data.data(), data.size()))
                return false;
            haveColor = true;
            break;
        case 'A': case 'a': {
            DWORD atom = 0;
            uint32_t read = 0;
            if (length != sizeof(atom) || !ReadFixedField(file.get(), length, &atom, sizeof(atom), read)) return false;
            ClassAtom = atom;
            break;
        }
        case 'T': case 't':
            if (!ReadFieldData(file.get(), length, data)) return false;
            Title = Utf8ToAnsi(std::string(data.begin(), data.end()));
            break;
        default:
            if (!SkipFieldData(file.get(), length)) length = 0;
            break;
        }
    }
    file.reset();

    if (haveColor && haveMask) {
        UniqueBitmap mask = MonochromeBitmapFrom(maskImage);
        if (mask) {
            ICONINFO info = {};
            info.fIcon = TRUE;
            info.hbmMask = mask.get();
            info.hbmColor = colorImage.Bitmap();
            icon_.reset(::CreateIconIndirect(&info));
        }
    }
    if (!icon_) {
        if (HICON own = WindowIcon(MainWindowHandle())) icon_.reset(::CopyIcon(own));
    }
    return static_cast<bool>(icon_);
}
