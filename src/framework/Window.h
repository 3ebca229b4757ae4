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

    // Registers `className` as a superclass of `baseClass` (its styles, cursor
    // and extra bytes), whose windows dispatch to their objects; `baseProcedure`
    // receives the base class's procedure, which the objects hand on to.
    static bool RegisterSuperclass(const char* baseClass, const char* className, WNDPROC& baseProcedure);

    // Creates the window with this object as its handler; null on failure or
    // when the object already has a window.
    HWND Create(const char* className, const char* title, DWORD style, DWORD exStyle, HWND parent = nullptr,
                HMENU menu = nullptr, int x = CW_USEDEFAULT, int y = CW_USEDEFAULT, int width = CW_USEDEFAULT,
                int height = CW_USEDEFAULT);

    // Makes this object the handler of a window made by CreateWindowEx (a common
    // control); what it leaves goes on to the window's own procedure. False when
    // the object has a window or the window already has an object.
    bool Attach(HWND window);

    HWND Handle() const { return window_; }
    // The object of a window created through Create, or null.
    static Window* FromHandle(HWND window);

protected:
    // Walks the handler tables; true when handled, with the answer in result.
    // Unhandled messages go to default processing.
    virtual bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Called after WM_NCDESTROY; the handle is no longer valid.
    virtual void OnFinalMessage(HWND) {}
    // Where unhandled messages go: default processing, unless a superclass sets
    // its base class's procedure before Create.
    void SetBaseProcedure(WNDPROC procedure) { baseProcedure_ = procedure; }
    // The processing the message would have without this object (for handlers
    // that act after the control's own handling).
    LRESULT CallBaseProcedure(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    WNDPROC baseProcedure_ = nullptr;
};
