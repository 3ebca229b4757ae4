// Changes the clipboard once, the way another program would, for the
// end-to-end tests, then stays the clipboard owner until its time is up or it
// gets WM_CLOSE.
//   svault_test_clipset.exe [--owner HWND | --no-owner] [--delayed [--poke HWND]] [--hold MS] --text TEXT
//                           [--format NAME BYTES]...
// --format   also offer the registered format NAME holding BYTES (ANSI) and a zero byte
// --owner    open the clipboard with that window (hex), so that it owns the change
// --no-owner open it without a window: the change has no owner
// --delayed  offer the text without data and render it on request
// --poke     while rendering, send that window a WM_DRAWCLIPBOARD first, as Wine
//            does when a second notification overtakes a capture in progress
// Exit code: 0 when the clipboard was changed, 1 when not, 2 for a bad command line.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char kClassName[] = "SvaultTestClipSetter";
std::wstring gText;
std::vector<std::pair<UINT, std::string>> gFormats;
HWND gPoke = nullptr;

HGLOBAL TextBlock() {
    const size_t bytes = (gText.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory) return nullptr;
    std::memcpy(::GlobalLock(memory), gText.c_str(), bytes);
    ::GlobalUnlock(memory);
    return memory;
}

void Render() {
    if (gPoke) ::SendMessageA(gPoke, WM_DRAWCLIPBOARD, 0, 0);
    HGLOBAL block = TextBlock();
    if (block && !::SetClipboardData(CF_UNICODETEXT, block)) ::GlobalFree(block);
}

LRESULT CALLBACK SetterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_RENDERFORMAT:
        if (wParam == CF_UNICODETEXT) Render();
        return 0;
    case WM_RENDERALLFORMATS:
        if (::OpenClipboard(window)) {
            if (::GetClipboardOwner() == window) Render();
            ::CloseClipboard();
        }
        return 0;
    case WM_TIMER:
    case WM_CLOSE:
        ::DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcA(window, message, wParam, lParam);
    }
}

std::string Ansi(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string bytes(size, '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, bytes.data(), size, nullptr, nullptr);
    return bytes;  // with its zero byte
}

bool SetBytes(UINT format, const std::string& bytes) {
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (!memory) return false;
    std::memcpy(::GlobalLock(memory), bytes.data(), bytes.size());
    ::GlobalUnlock(memory);
    if (::SetClipboardData(format, memory)) return true;
    ::GlobalFree(memory);
    return false;
}

HWND ParseWindow(const wchar_t* text) { return reinterpret_cast<HWND>(std::wcstoull(text, nullptr, 16)); }

bool OpenClipboardRetrying(HWND owner) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (::OpenClipboard(owner)) return true;
        ::Sleep(10);
    }
    return false;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    int count = 0;
    wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!args) return 2;
    HWND owner = nullptr;
    bool ownWindow = true, delayed = false, haveText = false;
    DWORD holdMs = 5000;
    for (int i = 1; i < count; ++i) {
        const std::wstring arg = args[i];
        const bool hasValue = i + 1 < count;
        if (arg == L"--owner" && hasValue) {
            owner = ParseWindow(args[++i]);
            ownWindow = false;
        } else if (arg == L"--no-owner") {
            ownWindow = false;
        } else if (arg == L"--delayed") {
            delayed = true;
        } else if (arg == L"--poke" && hasValue) {
            gPoke = ParseWindow(args[++i]);
        } else if (arg == L"--hold" && hasValue) {
            holdMs = static_cast<DWORD>(std::wcstoul(args[++i], nullptr, 10));
        } else if (arg == L"--format" && i + 2 < count) {
            const UINT format = ::RegisterClipboardFormatA(Ansi(args[i + 1]).c_str());
            gFormats.emplace_back(format, Ansi(args[i + 2]));
            i += 2;
        } else if (arg == L"--text" && hasValue) {
            gText = args[++i];
            haveText = true;
        } else {
            return 2;
        }
    }
    ::LocalFree(args);
    if (!haveText || (delayed && !ownWindow)) return 2;

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = SetterProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    if (!::RegisterClassA(&windowClass)) return 1;
    HWND window = ::CreateWindowExA(0, kClassName, "svault test clipboard setter", WS_POPUP, 0, 0, 1, 1, nullptr,
                                    nullptr, instance, nullptr);
    if (!window) return 1;
    if (ownWindow) owner = window;

    if (!OpenClipboardRetrying(owner)) return 1;
    ::EmptyClipboard();
    bool set = false;
    if (delayed) {
        // Offering a format without data returns null; only the error code tells.
        ::SetLastError(ERROR_SUCCESS);
        set = ::SetClipboardData(CF_UNICODETEXT, nullptr) != nullptr || ::GetLastError() == ERROR_SUCCESS;
    } else if (HGLOBAL block = TextBlock()) {
        set = ::SetClipboardData(CF_UNICODETEXT, block) != nullptr;
        if (!set) ::GlobalFree(block);
        for (const auto& [format, bytes] : gFormats) set = SetBytes(format, bytes) && set;
    }
    ::CloseClipboard();
    if (!set) return 1;

    ::SetTimer(window, 1, holdMs, nullptr);
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    return 0;
}
