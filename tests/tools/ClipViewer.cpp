// A second member of the clipboard-viewer chain for the end-to-end tests: it
// appends one line per WM_DRAWCLIPBOARD ("draw") and WM_CHANGECBCHAIN ("chain")
// to the report file named on its command line, passes every notification on as
// a good viewer does, and leaves the chain on WM_CLOSE.
//   svault_test_viewer.exe REPORT-FILE
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr char kClassName[] = "SvaultTestViewer";
std::string gReport;
HWND gNext = nullptr;

void Report(const char* line) {
    // Opened for every line so that a reader always sees complete lines.
    if (FILE* file = std::fopen(gReport.c_str(), "ab")) {
        std::fprintf(file, "%s %lu\n", line, ::GetClipboardSequenceNumber());
        std::fclose(file);
    }
}

LRESULT CALLBACK ViewerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        gNext = ::SetClipboardViewer(window);
        return 0;
    case WM_DRAWCLIPBOARD:
        Report("draw");
        if (gNext) ::SendMessageA(gNext, message, wParam, lParam);
        return 0;
    case WM_CHANGECBCHAIN:
        Report("chain");
        if (reinterpret_cast<HWND>(wParam) == gNext)
            gNext = reinterpret_cast<HWND>(lParam);
        else if (gNext)
            ::SendMessageA(gNext, message, wParam, lParam);
        return 0;
    case WM_CLOSE:
        ::ChangeClipboardChain(window, gNext);
        ::DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    gReport = commandLine;
    if (gReport.size() >= 2 && gReport.front() == '"' && gReport.back() == '"')
        gReport = gReport.substr(1, gReport.size() - 2);
    if (gReport.empty()) return 2;

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ViewerProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    if (!::RegisterClassA(&windowClass)) return 1;
    if (!::CreateWindowExA(0, kClassName, "svault test viewer", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance,
                           nullptr))
        return 1;
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    return 0;
}
