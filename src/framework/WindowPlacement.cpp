#include "framework/WindowPlacement.h"

#include <algorithm>

void CenterWindow(HWND window) {
    RECT own;
    if (!::GetWindowRect(window, &own)) return;

    HMONITOR monitor = ::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (!::GetMonitorInfoA(monitor, &info)) return;
    const RECT area = info.rcWork;

    RECT reference = area;
    HWND owner = ::GetWindow(window, GW_OWNER);
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) ::GetWindowRect(owner, &reference);

    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    int x = (reference.left + reference.right - width) / 2;
    int y = (reference.top + reference.bottom - height) / 2;
    x = std::max(static_cast<int>(area.left), std::min(x, static_cast<int>(area.right) - width));
    y = std::max(static_cast<int>(area.top), std::min(y, static_cast<int>(area.bottom) - height));
    ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
