#include "framework/ToolBar.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>

#include "framework/Module.h"

namespace {
constexpr WORD kToolBarResourceType = 241;
constexpr WORD kToolBarResourceVersion = 1;
// Turns a 32-bit image with alpha into its disabled look: grey, at 40 % cover.
void FadeToGrey(HBITMAP image) {
    DIBSECTION section = {};
    if (::GetObjectA(image, sizeof(section), &section) != sizeof(section) || section.dsBm.bmBitsPixel != 32 ||
        !section.dsBm.bmBits)
        return;
    auto* pixel = static_cast<BYTE*>(section.dsBm.bmBits);
    const size_t count = static_cast<size_t>(section.dsBm.bmWidthBytes / 4) * std::abs(section.dsBm.bmHeight);
    for (size_t i = 0; i < count; ++i, pixel += 4) {
        const int grey = (pixel[0] * 11 + pixel[1] * 59 + pixel[2] * 30) / 100;
        // Lightened, so the shape stays readable but plainly out of reach.
        const BYTE shade = static_cast<BYTE>(128 + grey / 2);
        pixel[0] = pixel[1] = pixel[2] = shade;
        pixel[3] = static_cast<BYTE>(pixel[3] * 2 / 5);
    }
}
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
    UniqueBitmap strip(static_cast<HBITMAP>(
        ::LoadImageA(instance, MAKEINTRESOURCEA(resourceId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    const int buttons = static_cast<int>(std::count_if(layout_.commands.begin(), layout_.commands.end(),
                                                       [](UINT command) { return command != 0; }));
    images_.reset(::ImageList_Create(layout_.imageWidth, layout_.imageHeight, ILC_COLOR32, buttons, 0));
    disabledImages_.reset(::ImageList_Create(layout_.imageWidth, layout_.imageHeight, ILC_COLOR32, buttons, 0));
    // The strip carries its transparency in its alpha channel: no mask.
    if (!strip || !images_ || !disabledImages_ || ::ImageList_Add(images_.get(), strip.get(), nullptr) < 0)
        return false;
    FadeToGrey(strip.get());
    if (::ImageList_Add(disabledImages_.get(), strip.get(), nullptr) < 0) return false;

    bar_.reset(::CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr, style, 0, 0, 0, 0, parent,
                                 reinterpret_cast<HMENU>(static_cast<UINT_PTR>(controlId)), instance, nullptr));
    if (!bar_) return false;
    ::SendMessageA(bar_.get(), TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    ::SendMessageA(bar_.get(), TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_.get()));
    ::SendMessageA(bar_.get(), TB_SETDISABLEDIMAGELIST, 0, reinterpret_cast<LPARAM>(disabledImages_.get()));
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

