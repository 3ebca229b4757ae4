#include "shell/NotificationIcon.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>

bool NotificationIcon::Add(HWND window, UINT callbackMessage, HICON icon, const std::string& tip) {
    Remove();
    // The first version of the structure: the oldest shell understands it, and its
    // mouse messages arrive unchanged in lParam.
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    data.uID = 0;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = callbackMessage;
    data.hIcon = icon;
    // The version-1 tip field holds 63 characters and the NUL.
    constexpr size_t kTipChars = 63;
    std::memcpy(data.szTip, tip.c_str(), std::min(tip.size(), kTipChars));
    if (!::Shell_NotifyIconA(NIM_ADD, &data)) return false;
    window_ = window;
    return true;
}

void NotificationIcon::Remove() {
    if (!window_) return;
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window_;
    data.uID = 0;
    data.uFlags = NIF_ICON;
    ::Shell_NotifyIconA(NIM_DELETE, &data);
    window_ = nullptr;
}
