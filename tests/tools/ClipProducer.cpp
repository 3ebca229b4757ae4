// A Windows program that changes the clipboard many times in a row, for the
// benchmark and the end-to-end tests: the path every Windows program takes,
// with no X11 bridge in between. It owns a visible top-level window, and each
// change carries its number ("mark N" at the start of the text, or the first
// pixel of the picture: blue 7, green and red the number's low and high byte).
//   svault_test_producer.exe [--kind text|mib|dib] [--count N] [--gap MS] [--first MARK]
//                            [--answer | --late] [--close] [--hold MS] [--title TEXT]
// --kind    a 50-character text (default), a text of 1 MiB characters, a 1920 x 1080 CF_DIB
// --gap     the time between the end of one change and the start of the next
// --answer  answer messages during the gap (a message loop); without it the
//           program sleeps, as a busy program does not answer
// --late    sleep through the gap, then answer what came meanwhile (a busy
//           program that looks at its messages between two jobs)
// --close   destroy the window as soon as the last change is made
// --hold    how long the program stays after its last change (500 ms)
// Prints "unset N" for each change that could not be made (the clipboard stayed
// held by another program for a second), then "last" once the last is made. Exit code: 0, or 2 for a bad command line.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr char kClassName[] = "SvaultTestProducer";

enum class Kind { kText, kMib, kDib };

LRESULT CALLBACK ProducerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcA(window, message, wParam, lParam);
}

// The part of every change that does not carry its number: text that barely
// compresses, or a picture that compresses like a screenshot.
struct Payloads {
    std::wstring filler;
    std::vector<uint8_t> dib;

    explicit Payloads(Kind kind) {
        if (kind == Kind::kMib) {
            static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
            uint32_t state = 2463534242u;
            filler.resize(1 << 20);
            for (wchar_t& c : filler) {
                state ^= state << 13, state ^= state >> 17, state ^= state << 5;
                c = static_cast<wchar_t>(kDigits[state & 63]);
            }
        } else if (kind == Kind::kDib) {
            constexpr int kWidth = 1920, kHeight = 1080;
            constexpr size_t kRow = ((kWidth * 24 + 31) / 32) * 4;
            BITMAPINFOHEADER header = {};
            header.biSize = sizeof(header);
            header.biWidth = kWidth;
            header.biHeight = kHeight;
            header.biPlanes = 1;
            header.biBitCount = 24;
            header.biSizeImage = static_cast<DWORD>(kRow * kHeight);
            dib.resize(sizeof(header) + kRow * kHeight);
            std::memcpy(dib.data(), &header, sizeof(header));
            for (size_t i = 0; i < kRow * kHeight; ++i)
                dib[sizeof(header) + i] = static_cast<uint8_t>((i * 7 + (i >> 9)) & 0x3F);
        }
    }
};

HGLOBAL Block(const void* data, size_t size) {
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, size);
    if (!memory) return nullptr;
    std::memcpy(::GlobalLock(memory), data, size);
    ::GlobalUnlock(memory);
    return memory;
}

HGLOBAL ChangeBlock(Kind kind, const Payloads& payloads, int mark, UINT& format) {
    if (kind == Kind::kDib) {
        format = CF_DIB;
        HGLOBAL memory = Block(payloads.dib.data(), payloads.dib.size());
        if (!memory) return nullptr;
        auto* first = static_cast<uint8_t*>(::GlobalLock(memory)) + sizeof(BITMAPINFOHEADER);
        first[0] = 7;
        first[1] = static_cast<uint8_t>(mark & 0xFF);
        first[2] = static_cast<uint8_t>((mark >> 8) & 0xFF);
        ::GlobalUnlock(memory);
        return memory;
    }
    format = CF_UNICODETEXT;
    std::wstring text = L"mark " + std::to_wstring(mark);
    if (kind == Kind::kText)
        text.resize(50, L'x');
    else
        text += L"\r\n" + payloads.filler;
    return Block(text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

// One change as a program makes it: open, empty, set, close. Another program
// holding the clipboard open is waited for, up to a second.
bool Change(HWND window, Kind kind, const Payloads& payloads, int mark) {
    bool open = false;
    for (int attempt = 0; attempt < 1000 && !open; ++attempt) {
        open = ::OpenClipboard(window) != FALSE;
        if (!open) ::Sleep(1);
    }
    if (!open) return false;
    ::EmptyClipboard();
    UINT format = 0;
    HGLOBAL block = ChangeBlock(kind, payloads, mark, format);
    const bool set = block && ::SetClipboardData(format, block);
    if (block && !set) ::GlobalFree(block);
    ::CloseClipboard();
    return set;
}

void AnswerMessages() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

enum class Answer { kNever, kLate, kAtOnce };

void Wait(DWORD ms, Answer answer) {
    if (answer != Answer::kAtOnce) {
        ::Sleep(ms);
        if (answer == Answer::kLate) AnswerMessages();
        return;
    }
    const DWORD start = ::GetTickCount();
    for (;;) {
        AnswerMessages();
        const DWORD spent = ::GetTickCount() - start;
        if (spent >= ms) return;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, QS_ALLINPUT);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    int count = 0;
    wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!args) return 2;
    Kind kind = Kind::kText;
    int changes = 1, first = 0;
    DWORD gap = 0, hold = 500;
    Answer answer = Answer::kNever;
    bool close = false;
    std::wstring title = L"svault test producer";
    for (int i = 1; i < count; ++i) {
        const std::wstring arg = args[i];
        const bool hasValue = i + 1 < count;
        if (arg == L"--kind" && hasValue) {
            const std::wstring value = args[++i];
            if (value == L"text") kind = Kind::kText;
            else if (value == L"mib") kind = Kind::kMib;
            else if (value == L"dib") kind = Kind::kDib;
            else return 2;
        } else if (arg == L"--count" && hasValue) {
            changes = static_cast<int>(std::wcstol(args[++i], nullptr, 10));
        } else if (arg == L"--gap" && hasValue) {
            gap = static_cast<DWORD>(std::wcstoul(args[++i], nullptr, 10));
        } else if (arg == L"--first" && hasValue) {
            first = static_cast<int>(std::wcstol(args[++i], nullptr, 10));
        } else if (arg == L"--hold" && hasValue) {
            hold = static_cast<DWORD>(std::wcstoul(args[++i], nullptr, 10));
        } else if (arg == L"--title" && hasValue) {
            title = args[++i];
        } else if (arg == L"--answer") {
            answer = Answer::kAtOnce;
        } else if (arg == L"--late") {
            answer = Answer::kLate;
        } else if (arg == L"--close") {
            close = true;
        } else {
            return 2;
        }
    }
    ::LocalFree(args);

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ProducerProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = ::LoadIcon(nullptr, IDI_APPLICATION);
    windowClass.lpszClassName = kClassName;
    if (!::RegisterClassA(&windowClass)) return 1;
    HWND window = ::CreateWindowExW(0, L"SvaultTestProducer", title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                    240, 120, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    ::SetForegroundWindow(window);
    AnswerMessages();

    const Payloads payloads(kind);
    for (int n = 0; n < changes; ++n) {
        if (!Change(window, kind, payloads, first + n)) std::printf("unset %d\n", first + n);
        if (n + 1 < changes) Wait(gap, answer);
    }
    if (close) ::DestroyWindow(window);
    // The moment of the last change, for a reader of the output that times it.
    std::printf("last\n");
    std::fflush(stdout);
    // The last change stays on the clipboard a moment with its owner alive, as
    // a program that goes on running would leave it.
    Wait(hold, answer);
    if (::IsWindow(window)) ::DestroyWindow(window);
    return 0;
}
