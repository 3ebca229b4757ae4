// How long one capture holds the clipboard open, beside a bare copy of the same
// change (open, read every offered format, close), and how long the whole
// capture call takes, for each kind of change. Prints one table row per kind
// ("row<TAB>what<TAB>value<TAB>note"), which scripts/bench gathers.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/ItemArchive.h"
#include "base/Paths.h"
#include "base/RecordFile.h"
#include "items/MarkupFormat.h"
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

std::string Utf16(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
}

// A text of about `chars` characters that compresses like prose.
std::string Text(size_t chars) {
    std::wstring text;
    while (text.size() < chars) text += L"The quick brown fox jumps over the lazy dog. \u00e9\u00e8\u20ac\r\n";
    text.resize(chars);
    return Utf16(text);
}

std::string Html() {
    std::string html = "<html><body><table>";
    while (html.size() < 1500) html += "<tr><td>cell</td><td>value</td></tr>";
    html += "</table></body></html>";
    return BuildCfHtmlHeader(html.size()) + html;
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// What any clipboard reader pays at least: open, copy out every format, close.
double BareCopyMs(HWND owner) {
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    if (::OpenClipboard(owner)) {
        for (UINT format = ::EnumClipboardFormats(0); format; format = ::EnumClipboardFormats(format)) {
            HANDLE data = ::GetClipboardData(format);
            if (!data || format == CF_BITMAP || format == CF_ENHMETAFILE || format == CF_PALETTE ||
                format == CF_METAFILEPICT)
                continue;
            if (const void* locked = ::GlobalLock(data)) {
                std::string copy(static_cast<const char*>(locked), ::GlobalSize(data));
                ::GlobalUnlock(data);
            }
        }
        ::CloseClipboard();
    }
    ::QueryPerformanceCounter(&end);
    return Milliseconds(start, end);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Measure(const char* name, UINT format, const std::string& bytes, HWND source, ClipboardHelper& clipboard,
             const ArchiveOptions& options) {
    constexpr int kRuns = 7;
    std::vector<double> hold, bare, total;
    for (int run = 0; run < kRuns; ++run) {
        clipboard.Set({{format, bytes}});
        bare.push_back(BareCopyMs(source));
        ItemArchive archive;
        archive.LoadArchive(options);
        LARGE_INTEGER start, end;
        ::QueryPerformanceCounter(&start);
        archive.Capture(source);
        ::QueryPerformanceCounter(&end);
        hold.push_back(archive.LastClipboardHoldMs());
        total.push_back(Milliseconds(start, end));
    }
    const double h = Median(hold), b = Median(bare);
    std::printf("row\thold, %s\t%.2f ms (bare copy %.2f ms, %.1fx)\tmedian of %d; capture call returns after %.1f ms\n",
                name, h, b, b > 0 ? h / b : 0.0, kRuns, Median(total));
    std::fflush(stdout);
}

double WorkingSetMib() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return static_cast<double>(counters.WorkingSetSize) / 1048576.0;
}

// The memory the archive holds does not grow with what it captured: 1,000
// different 1 MiB texts, each captured and stored.
void MeasureMemory(HWND source, ClipboardHelper& clipboard, const ArchiveOptions& options) {
    ItemArchive archive;
    archive.LoadArchive(options);
    const double before = WorkingSetMib();
    std::string text = Text(1 << 19);  // 512 Ki characters: 1 MiB of UTF-16
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < 1000; ++i) {
        const std::string mark = std::to_string(i);
        for (size_t c = 0; c < mark.size(); ++c) text[2 * c] = mark[c];
        clipboard.Set({{CF_UNICODETEXT, text}});
        archive.Capture(source);
    }
    archive.FlushWrites();
    ::QueryPerformanceCounter(&end);
    std::printf("row\tmemory: working set after 1,000 captures of 1 MiB texts\t%.0f MiB (%.0f MiB before)\t"
                "%zu items, all stored after %.1f s\n",
                WorkingSetMib(), before, archive.Items().size(), Milliseconds(start, end) / 1000.0);
    std::fflush(stdout);
}

// What flushing each stored file to the disk before its rename costs the
// writer's thread: item files written and renamed as the writer does, flushed
// and left to the system's cache.
void MeasureFlushCost(const std::string& folder) {
    struct Case {
        const char* name;
        size_t bytes;
        int files;
    };
    for (const Case& c : {Case{"small item files (100 bytes)", 100, 300}, Case{"1 MiB item files", 1 << 20, 30}}) {
        const std::string data(c.bytes, 'x');
        double ms[2] = {};
        for (Durability durability : {Durability::kFlushed, Durability::kCached}) {
            LARGE_INTEGER start, end;
            ::QueryPerformanceCounter(&start);
            for (int i = 0; i < c.files; ++i) {
                RecordFileWriter file(MakeUniqueFileName(folder, "flush", ".tx"), durability);
                file.Field('B', data.data(), data.size());
                file.Commit();
            }
            ::QueryPerformanceCounter(&end);
            ms[durability == Durability::kCached] = Milliseconds(start, end) / c.files;
        }
        std::printf("row\tstore, %s, flushed before the rename\t%.2f ms a file (%.2f ms left to the cache)\t"
                    "%d files each way\n",
                    c.name, ms[0], ms[1], c.files);
    }
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
    Measure("50-byte text", CF_UNICODETEXT, Text(50), source, clipboard, options);
    Measure("1.5 KB HTML", ClipboardHelper::Register("HTML Format"), Html(), source, clipboard, options);
    Measure("1 MiB text", CF_UNICODETEXT, Text(1 << 20), source, clipboard, options);
    Measure("1920x1080 bitmap", CF_DIB, FullHdDib(), source, clipboard, options);
    MeasureMemory(source, clipboard, options);
    MeasureFlushCost(folder.Path());
    ::DestroyWindow(source);
    return 0;
}
