#include "framework/StatusBar.h"

#include <commctrl.h>

#include "framework/Module.h"

bool StatusBar::Create(HWND parent, UINT id, UINT readyTextId) {
    ready_ = LoadResourceString(readyTextId);
    bar_ = ::CreateWindowExA(0, STATUSCLASSNAMEA, ready_.c_str(),
                             WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | SBARS_SIZEGRIP, 0, 0, 0, 0,
                             parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), AppModule().Instance(),
                             nullptr);
    if (!bar_) return false;
    ::SendMessageA(bar_, SB_SIMPLE, TRUE, 0);
    ShowReady();
    return true;
}

void StatusBar::ShowPrompt(UINT command) {
    const std::string text = LoadResourceString(command);
    prompting_ = true;
    SetText(text.substr(0, text.find('\n')));
}

void StatusBar::ShowReady() {
    prompting_ = false;
    if (idle_.empty())
        SetText(state_.empty() ? ready_ : state_);
    else
        SetText(state_.empty() ? idle_ : idle_ + "    " + state_);
}

void StatusBar::SetIdleText(std::string text) {
    if (text == idle_) return;
    idle_ = std::move(text);
    if (!prompting_) ShowReady();
}

void StatusBar::ShowState(const std::string& state) {
    if (state == state_) return;
    state_ = state;
    if (!prompting_) ShowReady();
}

void StatusBar::SetText(const std::string& text) {
    if (bar_) ::SendMessageA(bar_, SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string StatusBar::Text() const {
    char text[512] = {};
    // In simple mode the bar has the one part, read as part 0.
    if (bar_) ::SendMessageA(bar_, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
    return text;
}

int StatusBar::Layout() {
    if (!bar_) return 0;
    // The bar places and sizes itself on WM_SIZE.
    ::SendMessageA(bar_, WM_SIZE, 0, 0);
    RECT rect = {};
    ::GetWindowRect(bar_, &rect);
    return rect.bottom - rect.top;
}
