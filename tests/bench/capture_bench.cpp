// Measures how long one capture holds the clipboard open, and how long the whole
// capture takes, for a text and for a full-HD 24-bit picture. Prints its numbers.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/ItemArchive.h"
#include "base/Paths.h"
#include "support/ClipboardHelper.h"
#include "support/ImageTestHelpers.h"
#include "support/TempFolder.h"

namespace {

std::string FullHdDib() {
    std::string bits(1920 * 3 * 1080, '\0');
    // A gradient with some noise: compresses like a screenshot, not like a blank.
    unsigned seed = 12345;
    for (size_t i = 0; i < bits.size(); ++i) {
        seed = seed * 1103515245 + 12345;
        bits[i] = static_cast<char>((i / 7) + ((seed >> 16) & 3));
    }
    return PackDib(MakeHeader(1920, 1080, 24, BI_RGB, 0, static_cast<DWORD>(bits.size())), {}, {}, bits);
}

std::string LongText() {
    std::wstring text;
    while (text.size() < 100000) text += L"The quick brown fox jumps over the lazy dog. \u00e9\u00e8\u20ac\r\n";
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Measure(const char* name, UINT format, const std::string& bytes, HWND source, ClipboardHelper& clipboard,
             const ArchiveOptions& options) {
    constexpr int kRuns = 5;
    std::vector<double> hold, total;
    for (int run = 0; run < kRuns; ++run) {
        clipboard.Set({{format, bytes}});
        ItemArchive archive;
        archive.LoadArchive(options);
        LARGE_INTEGER start, end;
        ::QueryPerformanceCounter(&start);
        archive.Capture(source);
        ::QueryPerformanceCounter(&end);
        hold.push_back(archive.LastClipboardHoldMs());
        total.push_back(Milliseconds(start, end));
    }
    std::sort(hold.begin(), hold.end());
    std::sort(total.begin(), total.end());
    std::printf("bench: %-28s clipboard held %8.2f ms (median of %d, min %.2f)   whole capture %8.2f ms\n", name,
                hold[kRuns / 2], kRuns, hold[0], total[kRuns / 2]);
}

}  // namespace

int main() {
    TempFolder folder;
    ArchiveOptions options;
    options.folder = folder.Path();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ::DefWindowProcA;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "ScrapvaultBenchSource";
    ::RegisterClassA(&windowClass);
    HWND source = ::CreateWindowExA(0, windowClass.lpszClassName, "Bench", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                    nullptr, nullptr, windowClass.hInstance, nullptr);
    ClipboardHelper clipboard;
    Measure("text, 100,000 characters", CF_UNICODETEXT, LongText(), source, clipboard, options);
    Measure("bitmap, 1920x1080 24-bit", CF_DIB, FullHdDib(), source, clipboard, options);
    ::DestroyWindow(source);
    return 0;
}
