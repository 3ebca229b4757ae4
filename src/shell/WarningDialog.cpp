#include "shell/WarningDialog.h"

#include <string>

#include "archive/SourceApp.h"
#include "framework/Module.h"
#include "framework/ScopeGuards.h"
#include "framework/UniqueHandle.h"
#include "framework/WindowPlacement.h"
#include "resources/resource.h"
#include "shell/MainWindowHandle.h"
#include "shell/Settings.h"

namespace {

// Longest message text, in characters.
constexpr int kMaxMessageChars = 512;

std::string ValueName(UINT messageId) { return std::to_string(messageId); }

RECT WindowRectOf(HWND window) {
    RECT rect = {};
    ::GetWindowRect(window, &rect);
    return rect;
}

}  // namespace

WarningDialog::WarningDialog(UINT messageId) : ModalDialog(IDD_WARNING), messageId_(messageId) {
    UniqueRegKey key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, WarningsKeyPath(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
    DWORD value = 0;
    DWORD size = sizeof(value);
    // The value's type is not checked: four bytes holding 1 suppress the message.
    suppressed_ = ::RegQueryValueExA(key.get(), ValueName(messageId_).c_str(), nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
                  value == 1;
}

int WarningDialog::Show(HWND owner, UINT buttons) {
    if (suppressed_) return IDOK;
    const INT_PTR result = DoModal(owner, buttons);
    // A dialog that could not be shown asked nothing: only an explicit OK confirms.
    return result == IDOK ? IDOK : IDCANCEL;
}

bool WarningDialog::OnInitDialog(LPARAM buttons) {
    char text[kMaxMessageChars + 1] = {};
    ::LoadStringA(AppModule().Instance(), messageId_, text, sizeof(text));
    Layout(text, (buttons & kOkCancel) != 0);
    CenterWindow(Handle());
    if (HICON icon = WindowIcon(MainWindowHandle()))
        ::SendMessageA(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    return true;
}

void WarningDialog::Layout(const char* text, bool withCancel) {
    HWND dialog = Handle();
    // The text's extent as one line in the default GUI font.
    RECT extent = {};
    {
        UniqueDc dc(::CreateCompatibleDC(nullptr));
        ::SetMapMode(dc.get(), MM_TEXT);
        ScopedSelect font(dc.get(), ::GetStockObject(DEFAULT_GUI_FONT));
        ::DrawTextA(dc.get(), text, -1, &extent, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    }
    const int textWidth = extent.right - extent.left;
    const int textHeight = extent.bottom - extent.top;

    HWND check = ::GetDlgItem(dialog, IDC_DONT_SHOW_AGAIN);
    HWND ok = ::GetDlgItem(dialog, IDOK);
    HWND cancel = ::GetDlgItem(dialog, IDCANCEL);
    const RECT checkRect = WindowRectOf(check);
    const RECT okRect = WindowRectOf(ok);
    const int checkHeight = checkRect.bottom - checkRect.top;
    const int buttonWidth = okRect.right - okRect.left;
    const int buttonHeight = okRect.bottom - okRect.top;

    const int border = ::GetSystemMetrics(SM_CXBORDER);
    const int margin = 10 * border;
    const int width = textWidth + 22 * border;
    const int caption = ::GetSystemMetrics(SM_CYCAPTION);
    const int borderY = ::GetSystemMetrics(SM_CYBORDER);
    const int checkTop = textHeight + 2 * margin;
    const int buttonTop = textHeight + 3 * margin + checkHeight;
    const int half = static_cast<int>(width * 0.5);

    ::SetWindowPos(dialog, nullptr, 0, 0, width, buttonTop + 2 * borderY + margin + caption + buttonHeight,
                   SWP_NOZORDER);
    HWND message = ::GetDlgItem(dialog, IDC_WARNING_TEXT);
    // The box is exactly as wide as the text in this font: in the dialog's own,
    // which grows with the screen's scale, the end of the message would be cut.
    ::SendMessageA(message, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    ::SetWindowPos(message, nullptr, margin, margin, textWidth, textHeight, SWP_NOZORDER);
    ::SetWindowTextA(message, text);
    ::SetWindowPos(check, nullptr, margin, checkTop, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    if (withCancel) {
        ::SetWindowPos(ok, nullptr, half - margin - buttonWidth, buttonTop, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
        ::SetWindowPos(cancel, nullptr, half + margin, buttonTop, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    } else {
        ::ShowWindow(cancel, SW_HIDE);
        ::SetWindowPos(ok, nullptr, half - static_cast<int>(buttonWidth * 0.5), buttonTop, 0, 0,
                       SWP_NOZORDER | SWP_NOSIZE);
    }
}

bool WarningDialog::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    static constexpr MessageEntry<WarningDialog> kMessages[] = {
        msg::Command<&WarningDialog::OnDontShowAgain>(IDC_DONT_SHOW_AGAIN),
    };
    return DispatchMessageTable<WarningDialog>(*this, kMessages, message, wParam, lParam, result) ||
           ModalDialog::ProcessMessage(message, wParam, lParam, result);
}

void WarningDialog::OnDontShowAgain(UINT notifyCode, HWND control) {
    if (notifyCode != BN_CLICKED) return;
    // Written at the click, so the choice holds whichever button then closes the dialog.
    const DWORD value = ::SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    UniqueRegKey key;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, WarningsKeyPath(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                          nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return;
    ::RegSetValueExA(key.get(), ValueName(messageId_).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof(value));
}
