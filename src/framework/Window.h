// A window object: the messages of its HWND reach the object's handler tables.
// The object is stored in the window from WM_NCCREATE to WM_NCDESTROY, after
// which OnFinalMessage runs with the window gone.
#pragma once

#include <windows.h>

class Window {
public:
    Window() = default;
    // A window still alive is detached first and then destroyed: the derived
    // part of the object no longer exists to handle its last messages.
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Registers a class whose windows dispatch to their objects; cbSize,
    // lpfnWndProc and a missing hInstance are filled in. A class that already
    // exists counts as registered.
    static bool RegisterWindowClass(WNDCLASSEXA windowClass);

    // Creates the window with this object as its handler; null on failure or
    // when the object already has a window.
    HWND Create(const char* className, const char* title, DWORD style, DWORD exStyle, HWND parent = nullptr,
                HMENU menu = nullptr, int x = CW_USEDEFAULT, int y = CW_USEDEFAULT, int width = CW_USEDEFAULT,
                int height = CW_USEDEFAULT);

    HWND Handle() const { return window_; }
    // The object of a window created through Create, or null.
    static Window* FromHandle(HWND window);

protected:
    // Walks the handler tables; true when handled, with the answer in result.
    // Unhandled messages go to default processing.
    virtual bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Called after WM_NCDESTROY; the handle is no longer valid.
    virtual void OnFinalMessage(HWND) {}

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
};
