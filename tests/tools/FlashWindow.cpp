// Shows a window, brings it to the foreground and closes it: afterwards no
// window of Wine's desktop is in the foreground until another one is shown.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ::DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "SvaultTestFlashWindow";
    if (!::RegisterClassA(&windowClass)) return 1;
    HWND window = ::CreateWindowExA(0, windowClass.lpszClassName, "Flash", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                                    200, 100, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    ::SetForegroundWindow(window);
    MSG msg;
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < 300) {
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
        ::Sleep(10);
    }
    ::DestroyWindow(window);
    return ::GetForegroundWindow() == nullptr ? 0 : 2;
}
