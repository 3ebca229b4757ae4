// One move-only owner for every kind of Win32 handle; the traits name the close
// function and the value that means "nothing owned".
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <utility>

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::Empty(); }

    Handle release() noexcept { return std::exchange(handle_, Traits::Empty()); }

    void reset(Handle handle = Traits::Empty()) noexcept {
        Handle old = std::exchange(handle_, handle);
        if (old != Traits::Empty()) Traits::Close(old);
    }

    // For out-parameters: releases what is owned and hands out the slot.
    Handle* put() noexcept {
        reset();
        return &handle_;
    }

private:
    Handle handle_ = Traits::Empty();
};

namespace handle_traits {

template <typename H, auto CloseFn>
struct NullEmpty {
    using Handle = H;
    static constexpr Handle Empty() { return nullptr; }
    static void Close(Handle h) { CloseFn(h); }
};

struct File {
    using Handle = HANDLE;
    static Handle Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::CloseHandle(h); }
};

struct FindFile {
    using Handle = HANDLE;
    static Handle Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::FindClose(h); }
};

inline void DeleteGdiObject(HGDIOBJ h) { ::DeleteObject(h); }
inline void FreeGlobal(HGLOBAL h) { ::GlobalFree(h); }
inline void CloseRegKey(HKEY h) { ::RegCloseKey(h); }
inline void FreeCoTask(void* p) { ::CoTaskMemFree(p); }
inline void DeleteEmf(HENHMETAFILE h) { ::DeleteEnhMetaFile(h); }
inline void DeleteDc(HDC h) { ::DeleteDC(h); }
inline void DestroyIconHandle(HICON h) { ::DestroyIcon(h); }
inline void DestroyMenuHandle(HMENU h) { ::DestroyMenu(h); }
inline void DestroyWindowHandle(HWND h) { ::DestroyWindow(h); }
inline void CloseKernelHandle(HANDLE h) { ::CloseHandle(h); }
inline void FreeLibraryHandle(HMODULE h) { ::FreeLibrary(h); }
inline void DestroyImageList(HIMAGELIST h) { ::ImageList_Destroy(h); }

}  // namespace handle_traits

using UniqueFile = UniqueHandle<handle_traits::File>;
using UniqueFindFile = UniqueHandle<handle_traits::FindFile>;
using UniqueKernelHandle = UniqueHandle<handle_traits::NullEmpty<HANDLE, handle_traits::CloseKernelHandle>>;
using UniqueBitmap = UniqueHandle<handle_traits::NullEmpty<HBITMAP, handle_traits::DeleteGdiObject>>;
using UniqueBrush = UniqueHandle<handle_traits::NullEmpty<HBRUSH, handle_traits::DeleteGdiObject>>;
using UniqueFont = UniqueHandle<handle_traits::NullEmpty<HFONT, handle_traits::DeleteGdiObject>>;
using UniquePen = UniqueHandle<handle_traits::NullEmpty<HPEN, handle_traits::DeleteGdiObject>>;
using UniquePalette = UniqueHandle<handle_traits::NullEmpty<HPALETTE, handle_traits::DeleteGdiObject>>;
using UniqueDc = UniqueHandle<handle_traits::NullEmpty<HDC, handle_traits::DeleteDc>>;
using UniqueGlobal = UniqueHandle<handle_traits::NullEmpty<HGLOBAL, handle_traits::FreeGlobal>>;
using UniqueRegKey = UniqueHandle<handle_traits::NullEmpty<HKEY, handle_traits::CloseRegKey>>;
using UniqueCoTaskMem = UniqueHandle<handle_traits::NullEmpty<void*, handle_traits::FreeCoTask>>;
using UniqueEnhMetaFile = UniqueHandle<handle_traits::NullEmpty<HENHMETAFILE, handle_traits::DeleteEmf>>;
using UniqueIcon = UniqueHandle<handle_traits::NullEmpty<HICON, handle_traits::DestroyIconHandle>>;
using UniqueMenu = UniqueHandle<handle_traits::NullEmpty<HMENU, handle_traits::DestroyMenuHandle>>;
using UniqueWindow = UniqueHandle<handle_traits::NullEmpty<HWND, handle_traits::DestroyWindowHandle>>;
using UniqueModule = UniqueHandle<handle_traits::NullEmpty<HMODULE, handle_traits::FreeLibraryHandle>>;
using UniqueImageList = UniqueHandle<handle_traits::NullEmpty<HIMAGELIST, handle_traits::DestroyImageList>>;

// Releases a COM interface pointer it owns.
template <typename I>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }

    I* get() const noexcept { return p_; }
    I* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset() noexcept {
        if (p_) std::exchange(p_, nullptr)->Release();
    }
    I** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

private:
    I* p_ = nullptr;
};
