// An icon in the notification area that reports mouse events to a window; it is
// removed again by its owner object.
#pragma once

#include <windows.h>

#include <string>

class NotificationIcon {
public:
    NotificationIcon() = default;
    ~NotificationIcon() { Remove(); }
    NotificationIcon(const NotificationIcon&) = delete;
    NotificationIcon& operator=(const NotificationIcon&) = delete;

    // Adds icon id 0 of the window; mouse events arrive as callbackMessage with
    // the mouse message in lParam. The tip keeps at most 63 characters.
    bool Add(HWND window, UINT callbackMessage, HICON icon, const std::string& tip);
    void Remove();
    bool IsAdded() const { return window_ != nullptr; }

private:
    HWND window_ = nullptr;
};
