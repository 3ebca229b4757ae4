#include "archive/SourceApp.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/CaptureRecord.h"
#include "archive/ProgramKey.h"
#include "base/CodePage.h"
#include "base/Limits.h"
#include "base/RecordFields.h"
#include "base/RecordFile.h"
#include "items/DibImage.h"

HWND FindSourceWindow() {
    HWND owner = ::GetClipboardOwner();
    if (owner && ::IsWindow(owner) && (::GetWindowLongA(owner, GWL_STYLE) & 1)) {
        for (HWND parent = ::GetParent(owner); parent; parent = ::GetParent(owner)) owner = parent;
        return owner;
    }
    return ::GetForegroundWindow();
}

namespace {

// False when the window did not answer in time: a program that does not answer
// is taken to show no icon, and is not asked again.
bool AskIcon(HWND window, WPARAM kind, HICON& icon) {
    DWORD_PTR answer = 0;
    if (!::SendMessageTimeoutA(window, WM_GETICON, kind, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, kWindowIconTimeoutMs,
                               &answer))
        return false;
    icon = reinterpret_cast<HICON>(answer);
    return true;
}

}  // namespace

HICON WindowIcon(HWND window) {
    HICON icon = nullptr;
    if (AskIcon(window, ICON_BIG, icon) && !icon) AskIcon(window, ICON_SMALL, icon);
    if (icon) return icon;
    if ((icon = reinterpret_cast<HICON>(::GetClassLongPtrA(window, GCLP_HICON)))) return icon;
    return reinterpret_cast<HICON>(::GetClassLongPtrA(window, GCLP_HICONSM));
}

SourceApp::SourceApp() : Title(kUnknownApplication) {}

void SourceApp::InitUnknown() {
    icon_.reset();
    ClassAtom = 0;
    Title = kUnknownApplication;
    ProgramKey.clear();
}

bool SourceApp::InitFromWindow(HWND window) {
    icon_.reset();
    if (!::IsWindow(window)) return false;
    ClassAtom = ::GetClassLongA(window, GCW_ATOM);
    char title[kMaxTitleChars + 1] = {};
    ::GetWindowTextA(window, title, sizeof(title));
    Title = title[0] ? title : kUnknownApplication;
    if (HICON shown = WindowIcon(window)) icon_.reset(::CopyIcon(shown));
    ProgramKey = ProgramKeyOf(window);
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
    RecordFileWriter file(path);
    const DWORD atom = ClassAtom;
    if (!file.Field('A', &atom, sizeof(atom)) || !file.TextField('T', AnsiToUtf8(Title))) return false;
    // An application without an icon, or with a monochrome one, keeps no picture;
    // its file is complete without one.
    Bytes color, mask;
    if (IconPayloads(color, mask) &&
        (!file.Field('C', color.data(), color.size()) || !file.Field('M', mask.data(), mask.size())))
        return false;
    // After the fields earlier builds know, which step over it.
    if (!file.TextField('P', AnsiToUtf8(ProgramKey))) return false;
    return file.Commit();
}

bool SourceApp::IconPayloads(Bytes& color, Bytes& mask) const {
    if (!icon_) return false;
    ICONINFO info = {};
    if (!::GetIconInfo(icon_.get(), &info)) return false;
    UniqueBitmap colorBitmap(info.hbmColor), maskBitmap(info.hbmMask);
    if (!colorBitmap) return false;
    DibImage colorImage(ScreenDepth());
    DibImage maskImage(1);
    return colorImage.CreateFromBitmap(colorBitmap.get()) && colorImage.ToPayload(color) &&
           maskImage.CreateFromBitmap(maskBitmap.get()) && maskImage.ToPayload(mask);
}

bool SourceApp::ReadAppFile(const std::string& path, HICON fallbackIcon) {
    icon_.reset();
    Bytes bytes;
    AppFileFields fields;
    if (!ReadRecordFile(path, bytes, kMaxRecordFileBytes) || !ParseAppFile(bytes, fields)) return false;
    if (fields.classAtom) ClassAtom = *fields.classAtom;
    if (fields.titleUtf8)
        Title = Utf8ToAnsi(std::string_view(reinterpret_cast<const char*>(fields.titleUtf8->data()), fields.titleUtf8->size()));
    ProgramKey.clear();
    if (fields.programKeyUtf8)
        ProgramKey = Utf8ToAnsi(
            std::string_view(reinterpret_cast<const char*>(fields.programKeyUtf8->data()), fields.programKeyUtf8->size()));

    DibImage colorImage(ScreenDepth());
    DibImage maskImage(1);
    if (fields.colorPayload && !colorImage.LoadPayload(fields.colorPayload->data(), fields.colorPayload->size()))
        return false;
    if (fields.maskPayload && !maskImage.LoadPayload(fields.maskPayload->data(), fields.maskPayload->size()))
        return false;
    if (fields.colorPayload && fields.maskPayload) {
        UniqueBitmap mask = MonochromeBitmapFrom(maskImage);
        if (mask) {
            ICONINFO info = {};
            info.fIcon = TRUE;
            info.hbmMask = mask.get();
            info.hbmColor = colorImage.Bitmap();
            icon_.reset(::CreateIconIndirect(&info));
        }
    }
    if (!icon_ && fallbackIcon) icon_.reset(::CopyIcon(fallbackIcon));
    return static_cast<bool>(icon_);
}
