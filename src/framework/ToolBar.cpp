#include "framework/ToolBar.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>

#include "framework/Module.h"

namespace {
constexpr WORD kToolBarResourceType = 241;
constexpr WORD kToolBarResourceVersion = 1;
}  // namespace

bool LoadToolBarLayout(HINSTANCE instance, UINT resourceId, ToolBarLayout& layout) {
    HRSRC found = ::FindResourceA(instance, MAKEINTRESOURCEA(resourceId), MAKEINTRESOURCEA(kToolBarResourceType));
    HGLOBAL loaded = found ? ::LoadResource(instance, found) : nullptr;
    const auto* words = loaded ? static_cast<const WORD*>(::LockResource(loaded)) : nullptr;
    const DWORD bytes = found ? ::SizeofResource(instance, found) : 0;
    // Version, width, height, count, then the count's commands.
    if (!words || bytes < 4 * sizeof(WORD) || words[0] != kToolBarResourceVersion) return false;
    const size_t count = words[3];
    if (bytes / sizeof(WORD) < 4 + count) return false;
    layout.imageWidth = words[1];
    layout.imageHeight = words[2];
    layout.commands.assign(words + 4, words + 4 + count);
    return true;
}

bool ToolBar::Create(HWND parent, UINT resourceId, UINT controlId, DWORD style) {
    HINSTANCE instance = AppModule().Instance();
    if (!LoadToolBarLayout(instance, resourceId, layout_)) return false;
    strip_.reset(static_cast<HBITMAP>(
        ::LoadImageA(instance, MAKEINTRESOURCEA(resourceId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    const int buttons = static_cast<int>(std::count_if(layout_.commands.begin(), layout_.commands.end(),
                                                       [](UINT command) { return command != 0; }));
    images_.reset(::ImageList_Create(layout_.imageWidth, layout_.imageHeight, ILC_COLOR32, buttons, 0));
    // The strip carries its transparency in its alpha channel: no mask.
    if (!strip_ || !images_ || ::ImageList_Add(images_.get(), strip_.get(), nullptr) < 0) return false;

    bar_.reset(::CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr, style, 0, 0, 0, 0, parent,
                                 reinterpret_cast<HMENU>(static_cast<UINT_PTR>(controlId)), instance, nullptr));
    if (!bar_) return false;
    ::SendMessageA(bar_.get(), TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    ::SendMessageA(bar_.get(), TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_.get()));
    std::vector<TBBUTTON> added;
    int image = 0;
    for (UINT command : layout_.commands) {
        TBBUTTON button = {};
        button.idCommand = static_cast<int>(command);
        button.fsState = TBSTATE_ENABLED;
        if (command == 0) {
            button.fsStyle = BTNS_SEP;
        } else {
            button.iBitmap = image++;
            button.fsStyle = BTNS_BUTTON;
        }
        added.push_back(button);
    }
    ::SendMessageA(bar_.get(), TB_ADDBUTTONSA, added.size(), reinterpret_cast<LPARAM>(added.data()));
    ::SendMessageA(bar_.get(), TB_AUTOSIZE, 0, 0);
    return true;
}

int ToolBar::ImageOf(UINT command) const {
    int image = 0;
    for (UINT each : layout_.commands) {
        if (each == 0) continue;
        if (each == command) return image;
        ++image;
    }
    return -1;
}

void ToolBar::SetState(UINT command, bool enabled, bool checked) {
    if (!bar_ || command == 0) return;
    const LRESULT old = ::SendMessageA(bar_.get(), TB_GETSTATE, command, 0);
    if (old == -1) return;
    BYTE state = static_cast<BYTE>(old & ~(TBSTATE_ENABLED | TBSTATE_CHECKED));
    if (enabled) state |= TBSTATE_ENABLED;
    if (checked) state |= TBSTATE_CHECKED;
    // Setting an unchanged state still repaints the button: idle calls this often.
    if (state != old) ::SendMessageA(bar_.get(), TB_SETSTATE, command, MAKELPARAM(state, 0));
}

SIZE ToolBar::IdealSize() const {
    SIZE size = {};
    if (bar_) ::SendMessageA(bar_.get(), TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&size));
    return size;
}

UniqueBitmap ToolBar::MenuImage(UINT command) const {
    const int image = ImageOf(command);
    DIBSECTION strip = {};
    if (image < 0 || !strip_ || ::GetObjectA(strip_.get(), sizeof(strip), &strip) != sizeof(strip) ||
        strip.dsBm.bmBitsPixel != 32 || !strip.dsBm.bmBits)
        return {};
    const int width = layout_.imageWidth;
    const int height = layout_.imageHeight;
    if ((image + 1) * width > strip.dsBm.bmWidth || height > std::abs(strip.dsBm.bmHeight)) return {};
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as the strip
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueBitmap result(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!result || !bits) return {};
    const auto* source = static_cast<const BYTE*>(strip.dsBm.bmBits);
    auto* target = static_cast<BYTE*>(bits);
    // Both bottom-up when the strip's height is positive; a top-down strip
    // keeps its rows in the other order, which the copy must follow.
    const bool stripTopDown = strip.dsBm.bmHeight < 0;
    for (int row = 0; row < height; ++row) {
        const int sourceRow = stripTopDown ? height - 1 - row : row;
        const BYTE* from = source + static_cast<size_t>(sourceRow) * strip.dsBm.bmWidthBytes + image * width * 4;
        BYTE* to = target + static_cast<size_t>(row) * width * 4;
        for (int x = 0; x < width; ++x, from += 4, to += 4) {
            const BYTE alpha = from[3];
            for (int channel = 0; channel < 3; ++channel) to[channel] = static_cast<BYTE>(from[channel] * alpha / 255);
            to[3] = alpha;
        }
    }
    return result;
}
