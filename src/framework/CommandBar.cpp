#include "framework/CommandBar.h"

#include <commctrl.h>

#include <cctype>
#include <string>

#include "framework/MessageMap.h"
#include "framework/Module.h"
#include "framework/ToolBar.h"

namespace {
// The bar whose popup is open on this thread: the menu loop's filter hook has
// no other way to reach it.
thread_local CommandBar* gTrackingBar = nullptr;

std::string MenuText(HMENU menu, int position) {
    char text[256] = {};
    ::GetMenuStringA(menu, static_cast<UINT>(position), text, sizeof(text), MF_BYPOSITION);
    return text;
}

// The character after the first single "&", upper-cased; 0 when there is none.
UINT Mnemonic(const std::string& text) {
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&') continue;
        if (text[i + 1] != '&') return static_cast<UINT>(std::toupper(static_cast<unsigned char>(text[i + 1])));
        ++i;
    }
    return 0;
}
}  // namespace

CommandBar::~CommandBar() {
    if (hook_) ::UnhookWindowsHookEx(hook_);
    if (gTrackingBar == this) gTrackingBar = nullptr;
}

bool CommandBar::CreateBar(HWND frame, UINT controlId, DWORD style) {
    frame_ = frame;
    HWND bar = ::CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr, style, 0, 0, 0, 0, frame,
                                 reinterpret_cast<HMENU>(static_cast<UINT_PTR>(controlId)), AppModule().Instance(),
                                 nullptr);
    if (!bar || !Attach(bar)) {
        if (bar) ::DestroyWindow(bar);
        return false;
    }
    menu_.reset(::GetMenu(frame));
    ::SetMenu(frame, nullptr);
    ::SendMessageA(bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    // Text only: no room kept for images.
    ::SendMessageA(bar, TB_SETBITMAPSIZE, 0, MAKELPARAM(0, 0));
    std::vector<std::string> texts;
    const int count = MenuCount();
    for (int i = 0; i < count; ++i) texts.push_back(MenuText(menu_.get(), i));
    std::vector<TBBUTTON> buttons;
    for (int i = 0; i < count; ++i) {
        TBBUTTON button = {};
        button.iBitmap = I_IMAGENONE;
        // The buttons never send their ids: a press opens the menu instead.
        button.idCommand = i + 1;
        button.fsState = TBSTATE_ENABLED;
        button.fsStyle = BTNS_BUTTON | BTNS_AUTOSIZE | BTNS_SHOWTEXT;
        button.iString = reinterpret_cast<INT_PTR>(texts[i].c_str());
        buttons.push_back(button);
    }
    ::SendMessageA(bar, TB_ADDBUTTONSA, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
    ::SendMessageA(bar, TB_AUTOSIZE, 0, 0);
    return true;
}

int CommandBar::MenuCount() const { return menu_ ? ::GetMenuItemCount(menu_.get()) : 0; }

SIZE CommandBar::IdealSize() const {
    SIZE size = {};
    if (Handle()) ::SendMessageA(Handle(), TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&size));
    return size;
}

void CommandBar::SetMenuImages(const ToolBar& toolBar) {
    imageSource_ = &toolBar;
    for (int i = 0; i < MenuCount(); ++i) {
        HMENU popup = ::GetSubMenu(menu_.get(), i);
        for (int item = 0; popup && item < ::GetMenuItemCount(popup); ++item) {
            if (toolBar.ImageOf(::GetMenuItemID(popup, item)) < 0) continue;
            // Drawn by the owner, through the image list, which honours the
            // images' alpha where a menu's own bitmap drawing may not.
            MENUITEMINFOA info = {};
            info.cbSize = sizeof(info);
            info.fMask = MIIM_BITMAP;
            info.hbmpItem = HBMMENU_CALLBACK;
            ::SetMenuItemInfoA(popup, static_cast<UINT>(item), TRUE, &info);
        }
    }
}

bool CommandBar::OnMeasureMenuImage(MEASUREITEMSTRUCT& measure) const {
    if (measure.CtlType != ODT_MENU || !imageSource_ || imageSource_->ImageOf(measure.itemID) < 0) return false;
    measure.itemWidth = static_cast<UINT>(imageSource_->Layout().imageWidth);
    measure.itemHeight = static_cast<UINT>(imageSource_->Layout().imageHeight);
    return true;
}

bool CommandBar::OnDrawMenuImage(const DRAWITEMSTRUCT& draw) const {
    if (draw.CtlType != ODT_MENU || !imageSource_) return false;
    const int image = imageSource_->ImageOf(draw.itemID);
    if (image < 0) return false;
    const bool disabled = (draw.itemState & (ODS_GRAYED | ODS_DISABLED)) != 0;
    const ToolBarLayout& layout = imageSource_->Layout();
    const int x = draw.rcItem.left + (draw.rcItem.right - draw.rcItem.left - layout.imageWidth) / 2;
    const int y = draw.rcItem.top + (draw.rcItem.bottom - draw.rcItem.top - layout.imageHeight) / 2;
    ::ImageList_Draw(disabled ? imageSource_->DisabledImages() : imageSource_->Images(), image, draw.hDC, x, y,
                     ILD_TRANSPARENT);
    return true;
}

int CommandBar::MenuOfMnemonic(UINT character) const {
    const UINT wanted = static_cast<UINT>(std::toupper(static_cast<int>(character & 0xFF)));
    for (int i = 0; i < MenuCount(); ++i)
        if (Mnemonic(MenuText(menu_.get(), i)) == wanted) return i;
    return -1;
}

bool CommandBar::OnKeyMenu(UINT character) {
    if (!menu_ || MenuCount() == 0) return false;
    if (character == 0) {
        EnterKeyboardMode();
        return true;
    }
    const int index = MenuOfMnemonic(character);
    if (index < 0) return false;
    LeaveKeyboardMode();
    TrackMenus(index, true);
    return true;
}

void CommandBar::EnterKeyboardMode() {
    keyboardMode_ = true;
    SetHot(0);
}

void CommandBar::LeaveKeyboardMode() {
    keyboardMode_ = false;
    SetHot(-1);
}

void CommandBar::SetHot(int index) {
    hot_ = index;
    if (Handle()) ::SendMessageA(Handle(), TB_SETHOTITEM, static_cast<WPARAM>(index), 0);
}

bool CommandBar::PreTranslateMessage(MSG& message) {
    if (keyboardMode_) return OnKeyboardModeMessage(message);
    // Only keys meant for the frame's own windows, and not while a modal window
    // has disabled it.
    if (!frame_ || !::IsWindowEnabled(frame_) || (message.hwnd != frame_ && !::IsChild(frame_, message.hwnd)))
        return false;
    // The panes' default handling would take Alt and F10 to the window menu,
    // never to this bar: they are looked at here, before the panes see them.
    switch (message.message) {
    case WM_SYSKEYDOWN:
        if (message.wParam == VK_F10 && ::GetKeyState(VK_SHIFT) >= 0) {
            EnterKeyboardMode();
            return true;
        }
        // Alt alone, released without another key in between, selects the bar.
        altAlone_ = message.wParam == VK_MENU && !(message.lParam & (1 << 30));
        return false;
    case WM_SYSKEYUP:
        if (message.wParam == VK_MENU && altAlone_) {
            altAlone_ = false;
            EnterKeyboardMode();
            return true;
        }
        return false;
    case WM_SYSCHAR: {
        const int index = MenuOfMnemonic(static_cast<UINT>(message.wParam));
        if (index < 0) return false;
        TrackMenus(index, true);
        return true;
    }
    case WM_KEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
        altAlone_ = false;
        return false;
    default:
        return false;
    }
}

bool CommandBar::OnKeyboardModeMessage(MSG& message) {
    switch (message.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        OnKeyboardModeKey(message.wParam);
        return true;
    case WM_KEYUP:
    case WM_SYSKEYUP:
    case WM_CHAR:
    case WM_SYSCHAR:
        return true;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
        LeaveKeyboardMode();
        return false;
    default:
        return false;
    }
}

void CommandBar::OnKeyboardModeKey(WPARAM key) {
    const int count = MenuCount();
    switch (key) {
    case VK_LEFT:
        SetHot((hot_ + count - 1) % count);
        return;
    case VK_RIGHT:
        SetHot((hot_ + 1) % count);
        return;
    case VK_DOWN:
    case VK_UP:
    case VK_RETURN: {
        const int index = hot_;
        LeaveKeyboardMode();
        TrackMenus(index, true);
        return;
    }
    case VK_ESCAPE:
    case VK_MENU:
    case VK_F10:
        // Taking the key down also keeps its key up from selecting the bar again.
        LeaveKeyboardMode();
        return;
    default: {
        const UINT character = ::MapVirtualKeyA(static_cast<UINT>(key), MAPVK_VK_TO_CHAR);
        const int index = character ? MenuOfMnemonic(character) : -1;
        if (index < 0) {
            ::MessageBeep(0);
            return;
        }
        LeaveKeyboardMode();
        TrackMenus(index, true);
        return;
    }
    }
}

bool CommandBar::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    static constexpr MessageEntry<CommandBar> kMessages[] = {
        msg::Raw<&CommandBar::OnLeftButtonDown>(WM_LBUTTONDOWN),
        msg::Raw<&CommandBar::OnLeftButtonDown>(WM_LBUTTONDBLCLK),
    };
    return DispatchMessageTable<CommandBar>(*this, kMessages, message, wParam, lParam, result) ||
           Window::ProcessMessage(message, wParam, lParam, result);
}

LRESULT CommandBar::OnLeftButtonDown(WPARAM, LPARAM lParam) {
    POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ::ClientToScreen(Handle(), &point);
    LeaveKeyboardMode();
    const int index = ButtonAt(point);
    if (index >= 0) TrackMenus(index, false);
    return 0;
}

int CommandBar::ButtonAt(POINT screenPoint) const {
    POINT client = screenPoint;
    ::ScreenToClient(Handle(), &client);
    RECT bar = {};
    ::GetClientRect(Handle(), &bar);
    if (!::PtInRect(&bar, client)) return -1;
    const LRESULT index = ::SendMessageA(Handle(), TB_HITTEST, 0, reinterpret_cast<LPARAM>(&client));
    return index >= 0 && index < MenuCount() ? static_cast<int>(index) : -1;
}

void CommandBar::TrackMenus(int index, bool fromKeyboard) {
    if (openMenu_ >= 0 || gTrackingBar) return;
    nextMenu_ = index;
    nextFromKeyboard_ = fromKeyboard;
    while (nextMenu_ >= 0 && nextMenu_ < MenuCount()) {
        const int open = nextMenu_;
        const bool keyboard = nextFromKeyboard_;
        nextMenu_ = -1;
        escaped_ = false;
        openMenu_ = open;
        RECT button = {};
        ::SendMessageA(Handle(), TB_GETITEMRECT, static_cast<WPARAM>(open), reinterpret_cast<LPARAM>(&button));
        ::MapWindowPoints(Handle(), nullptr, reinterpret_cast<POINT*>(&button), 2);
        ::SendMessageA(Handle(), TB_PRESSBUTTON, static_cast<WPARAM>(open + 1), TRUE);
        // A menu dropped from the keyboard starts with its first item selected:
        // the popup's loop takes this key as its first.
        if (keyboard) ::PostMessageA(Handle(), WM_KEYDOWN, VK_DOWN, 0);
        TPMPARAMS params = {sizeof(params), button};
        gTrackingBar = this;
        hook_ = ::SetWindowsHookExA(WH_MSGFILTER, MenuFilterHook, nullptr, ::GetCurrentThreadId());
        ::TrackPopupMenuEx(::GetSubMenu(menu_.get(), open), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_VERTICAL | TPM_LEFTBUTTON,
                           button.left, button.bottom, frame_, &params);
        if (hook_) ::UnhookWindowsHookEx(hook_);
        hook_ = nullptr;
        gTrackingBar = nullptr;
        ::SendMessageA(Handle(), TB_PRESSBUTTON, static_cast<WPARAM>(open + 1), FALSE);
        openMenu_ = -1;
        // Escape from a menu dropped by the keyboard goes back to the bar, as in
        // a menu bar; a second Escape leaves it.
        if (nextMenu_ < 0 && escaped_ && keyboard) {
            keyboardMode_ = true;
            SetHot(open);
        }
    }
}

LRESULT CALLBACK CommandBar::MenuFilterHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == MSGF_MENU && gTrackingBar && lParam &&
        gTrackingBar->OnMenuMessage(*reinterpret_cast<const MSG*>(lParam)))
        return TRUE;
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

bool CommandBar::OnMenuMessage(const MSG& message) {
    const int count = MenuCount();
    switch (message.message) {
    case WM_KEYDOWN:
        if (message.wParam == VK_LEFT || message.wParam == VK_RIGHT) {
            // The popups have no submenus, so Left and Right always mean the next menu.
            nextMenu_ = (openMenu_ + (message.wParam == VK_LEFT ? count - 1 : 1)) % count;
            nextFromKeyboard_ = true;
            ::EndMenu();
            return true;
        }
        if (message.wParam == VK_ESCAPE) escaped_ = true;
        return false;
    case WM_MOUSEMOVE: {
        // Sliding along the bar with a menu open opens the menu under the pointer.
        const int index = ButtonAt(message.pt);
        if (index < 0 || index == openMenu_) return false;
        nextMenu_ = index;
        nextFromKeyboard_ = false;
        ::EndMenu();
        return true;
    }
    case WM_LBUTTONDOWN: {
        const int index = ButtonAt(message.pt);
        if (index < 0) return false;
        // A click on the open menu's own button closes it; on another, opens that.
        nextMenu_ = index == openMenu_ ? -1 : index;
        nextFromKeyboard_ = false;
        ::EndMenu();
        return true;
    }
    default:
        return false;
    }
}
