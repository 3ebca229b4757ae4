// A program known by its executable's name, for the end-to-end test of
// programs known by name: copied under two names, each copy registers a class
// of its own ("Named_" and the executable's name without ".exe"), shows a
// window titled "Program " and that name with a one-colour icon, and puts
// "copied by NAME" on the clipboard. Prints the class atom ("atom N") once the
// copy is made, then answers messages (the archiver asks for the icon) for
// HOLD_MS before it ends. With ATOM its class gets that atom: the Wine server
// hands out the lowest free one, so the program takes the ones below with
// classes of its own until it is reached (an atom above it: exit code 3).
//   svault_test_named.exe RRGGBB HOLD_MS [ATOM]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

HICON SolidIcon(COLORREF color, int size) {
    std::vector<DWORD> pixels(static_cast<size_t>(size) * size,
                              0xFF000000 | (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color));
    HBITMAP colorBitmap = ::CreateBitmap(size, size, 1, 32, pixels.data());
    std::vector<BYTE> maskBits(static_cast<size_t>((size + 15) / 16) * 2 * size, 0);  // all opaque
    HBITMAP mask = ::CreateBitmap(size, size, 1, 1, maskBits.data());
    ICONINFO info = {};
    info.fIcon = TRUE;
    info.hbmColor = colorBitmap;
    info.hbmMask = mask;
    HICON icon = ::CreateIconIndirect(&info);
    ::DeleteObject(colorBitmap);
    ::DeleteObject(mask);
    return icon;
}

bool CopyText(HWND window, const std::string& text) {
    for (int attempt = 0; attempt < 50; ++attempt, ::Sleep(20)) {
        if (!::OpenClipboard(window)) continue;
        ::EmptyClipboard();
        HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
        if (memory) {
            std::memcpy(::GlobalLock(memory), text.c_str(), text.size() + 1);
            ::GlobalUnlock(memory);
            if (!::SetClipboardData(CF_TEXT, memory)) ::GlobalFree(memory);
        }
        ::CloseClipboard();
        return memory != nullptr;
    }
    return false;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (__argc != 3 && __argc != 4) return 2;
    const ATOM wanted = __argc == 4 ? static_cast<ATOM>(std::strtoul(__argv[3], nullptr, 10)) : 0;
    const COLORREF rgb = std::strtoul(__argv[1], nullptr, 16);
    const COLORREF color = RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
    const DWORD hold = std::strtoul(__argv[2], nullptr, 10);
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name = path;
    name.erase(0, name.find_last_of("\\/") + 1);
    name.erase(name.rfind('.'));

    const std::string className = "Named_" + name;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ::DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.hIcon = SolidIcon(color, 32);
    windowClass.lpszClassName = className.c_str();
    ATOM atom = ::RegisterClassA(&windowClass);
    for (int pad = 0; atom && wanted && atom < wanted; ++pad) {
        ::UnregisterClassA(className.c_str(), instance);
        WNDCLASSA padClass = windowClass;
        const std::string padName = className + "_pad" + std::to_string(pad);
        padClass.lpszClassName = padName.c_str();
        ::RegisterClassA(&padClass);
        atom = ::RegisterClassA(&windowClass);
    }
    if (!atom) return 1;
    if (wanted && atom != wanted) return 3;
    HWND window = ::CreateWindowExA(0, className.c_str(), ("Program " + name).c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                    0, 0, 240, 120, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    ::SetForegroundWindow(window);
    if (!CopyText(window, "copied by " + name)) return 1;
    std::printf("atom %u\n", atom);
    std::fflush(stdout);

    const DWORD start = ::GetTickCount();
    for (DWORD spent = 0; spent < hold; spent = ::GetTickCount() - start) {
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, hold - spent, QS_ALLINPUT);
    }
    ::DestroyWindow(window);
    return 0;
}
