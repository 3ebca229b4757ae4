// Scope guards for Win32 calls that come in pairs: select/restore, get/release a
// DC, lock/unlock global memory, open/close the clipboard.
#pragma once

#include <windows.h>

#include <utility>

// Selects an object into a DC and puts the previous one back on scope exit.
// Declare the owned object before this guard so it is deselected first.
class ScopedSelect {
public:
    ScopedSelect(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~ScopedSelect() {
        if (previous_ && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
    }
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// A window's DC from GetDC, released with the same window.
class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    ~WindowDc() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

private:
    HWND window_;
    HDC dc_;
};

// BeginPaint and EndPaint of one WM_PAINT.
class PaintDc {
public:
    explicit PaintDc(HWND window) noexcept : window_(window), dc_(::BeginPaint(window, &paint_)) {}
    ~PaintDc() {
        if (dc_) ::EndPaint(window_, &paint_);
    }
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;
    HDC get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

private:
    HWND window_;
    PAINTSTRUCT paint_ = {};
    HDC dc_;
};

// Everything set on a DC (viewport origin, mapping mode, objects) is put back on
// scope exit, so drawing code may move the origin freely.
class SavedDcState {
public:
    explicit SavedDcState(HDC dc) noexcept : dc_(dc), saved_(::SaveDC(dc)) {}
    ~SavedDcState() {
        if (saved_) ::RestoreDC(dc_, saved_);
    }
    SavedDcState(const SavedDcState&) = delete;
    SavedDcState& operator=(const SavedDcState&) = delete;

private:
    HDC dc_;
    int saved_;
};

// Locks a global memory block for the guard's lifetime.
class GlobalLockGuard {
public:
    explicit GlobalLockGuard(HGLOBAL memory) noexcept
        : memory_(memory), data_(memory ? ::GlobalLock(memory) : nullptr) {}
    ~GlobalLockGuard() {
        if (data_) ::GlobalUnlock(memory_);
    }
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
    void* data() const noexcept { return data_; }
    // Bytes the block really has; what the block claims about itself is a separate matter.
    SIZE_T size() const noexcept { return data_ ? ::GlobalSize(memory_) : 0; }
    explicit operator bool() const noexcept { return data_ != nullptr; }

private:
    HGLOBAL memory_;
    void* data_;
};

// Holds the clipboard open; closing it as early as possible is up to the scope.
class ClipboardSession {
public:
    // The program that just changed the clipboard may hold it a moment longer;
    // attempts above 1 retry every 10 ms.
    explicit ClipboardSession(HWND owner, int attempts = 1) noexcept {
        for (int i = 0; i < attempts && !open_; ++i) {
            if (i > 0) ::Sleep(10);
            open_ = ::OpenClipboard(owner) != FALSE;
        }
    }
    ~ClipboardSession() { Close(); }
    ClipboardSession(const ClipboardSession&) = delete;
    ClipboardSession& operator=(const ClipboardSession&) = delete;
    bool IsOpen() const noexcept { return open_; }
    void Close() noexcept {
        if (std::exchange(open_, false)) ::CloseClipboard();
    }

private:
    bool open_ = false;
};
