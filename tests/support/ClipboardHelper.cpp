#include "support/ClipboardHelper.h"

#include <cstring>

ClipboardHelper::ClipboardHelper() {
    window_ = ::CreateWindowExA(0, "STATIC", "clipboard test helper", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                ::GetModuleHandleA(nullptr), nullptr);
}

ClipboardHelper::~ClipboardHelper() {
    if (window_) ::DestroyWindow(window_);
}

bool ClipboardHelper::Open() {
    // Another process (Wine's X11 bridge among them) may hold it for a moment.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::OpenClipboard(window_)) return true;
        ::Sleep(10);
    }
    return false;
}

bool ClipboardHelper::Set(const std::map<UINT, std::string>& formats) {
    if (!Open()) return false;
    ::EmptyClipboard();
    bool ok = true;
    for (const auto& [format, bytes] : formats) {
        HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size() ? bytes.size() : 1);
        if (!memory) {
            ok = false;
            continue;
        }
        std::memcpy(::GlobalLock(memory), bytes.data(), bytes.size());
        ::GlobalUnlock(memory);
        if (!::SetClipboardData(format, memory)) {
            ::GlobalFree(memory);
            ok = false;
        }
    }
    ::CloseClipboard();
    return ok;
}

bool ClipboardHelper::Empty() {
    if (!Open()) return false;
    ::EmptyClipboard();
    ::CloseClipboard();
    return true;
}

std::vector<UINT> ClipboardHelper::Formats() {
    std::vector<UINT> formats;
    if (!Open()) return formats;
    for (UINT f = ::EnumClipboardFormats(0); f; f = ::EnumClipboardFormats(f)) formats.push_back(f);
    ::CloseClipboard();
    return formats;
}

std::optional<std::string> ClipboardHelper::Get(UINT format) {
    if (!Open()) return std::nullopt;
    std::optional<std::string> result;
    if (HANDLE data = ::GetClipboardData(format)) {
        if (const void* bytes = ::GlobalLock(data)) {
            result = std::string(static_cast<const char*>(bytes), ::GlobalSize(data));
            ::GlobalUnlock(data);
        }
    }
    ::CloseClipboard();
    return result;
}
