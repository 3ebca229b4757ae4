#include "framework/Window.h"

#include "framework/Module.h"

Window::~Window() {
    if (window_ && ::IsWindow(window_)) {
        ::SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        // A control or superclass still needs its own procedure to clean up.
        if (baseProcedure_)
            ::SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(baseProcedure_));
        ::DestroyWindow(window_);
    }
}

bool Window::RegisterSuperclass(const char* baseClass, const char* className, WNDPROC& baseProcedure) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    if (!::GetClassInfoExA(nullptr, baseClass, &windowClass)) return false;
    baseProcedure = windowClass.lpfnWndProc;
    windowClass.hInstance = nullptr;
    windowClass.lpszClassName = className;
    windowClass.lpszMenuName = nullptr;
    // Global classes of the system (CS_GLOBALCLASS) become the program's own.
    windowClass.style &= ~CS_GLOBALCLASS;
    return RegisterWindowClass(windowClass);
}

bool Window::Attach(HWND window) {
    if (window_ || !window || !::IsWindow(window) || FromHandle(window)) return false;
    window_ = window;
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    baseProcedure_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc)));
    return true;
}

LRESULT Window::CallBaseProcedure(UINT message, WPARAM wParam, LPARAM lParam) {
    if (baseProcedure_) return ::CallWindowProcA(baseProcedure_, window_, message, wParam, lParam);
    return ::DefWindowProcA(window_, message, wParam, lParam);
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
    if (!self->ProcessMessage(message, wParam, lParam, result)) result = self->CallBaseProcedure(message, wParam, lParam);

    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        self->OnFinalMessage(window);
    }
    return result;
}
