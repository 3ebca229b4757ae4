#include "framework/Window.h"

#include "framework/Module.h"

Window::~Window() {
    if (window_ && ::IsWindow(window_)) {
        ::SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        ::DestroyWindow(window_);
    }
}

bool Window::RegisterWindowClass(WNDCLASSEXA windowClass) {
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    if (!windowClass.hInstance) windowClass.hInstance = AppModule().Instance();
    if (::RegisterClassExA(&windowClass)) return true;
    WNDCLASSEXA existing = {};
    existing.cbSize = sizeof(existing);
    return ::GetClassInfoExA(windowClass.hInstance, windowClass.lpszClassName, &existing) &&
           existing.lpfnWndProc == WindowProc;
}

HWND Window::Create(const char* className, const char* title, DWORD style, DWORD exStyle, HWND parent, HMENU menu,
                    int x, int y, int width, int height) {
    if (window_) return nullptr;
    // WindowProc takes the object from the creation data at WM_NCCREATE.
    return ::CreateWindowExA(exStyle, className, title, style, x, y, width, height, parent, menu,
                             AppModule().Instance(), this);
}

Window* Window::FromHandle(HWND window) {
    if (!window || !::IsWindow(window)) return nullptr;
    if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(window, GWLP_WNDPROC)) != WindowProc) return nullptr;
    return reinterpret_cast<Window*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
}

bool Window::ProcessMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

LRESULT CALLBACK Window::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<Window*>(reinterpret_cast<const CREATESTRUCTA*>(lParam)->lpCreateParams);
        if (self) {
            self->window_ = window;
            ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
    } else {
        // Messages before WM_NCCREATE (WM_GETMINMAXINFO) find no object yet.
        self = reinterpret_cast<Window*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    }
    if (!self) return ::DefWindowProcA(window, message, wParam, lParam);

    LRESULT result = 0;
    if (!self->ProcessMessage(message, wParam, lParam, result))
        result = ::DefWindowProcA(window, message, wParam, lParam);

    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        self->OnFinalMessage(window);
    }
    return result;
}
