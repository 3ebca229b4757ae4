#include "support/ArchiveGenerator.h"

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <vector>

#include "archive/CaptureRecord.h"
#include "archive/ItemFile.h"
#include "archive/SourceApp.h"
#include "base/CaptureTime.h"
#include "base/CodePage.h"
#include "base/ParallelFor.h"
#include "base/Paths.h"
#include "support/ImageTestHelpers.h"
#include "base/RecordFile.h"
#include "items/BitmapItem.h"
#include "items/HtmlItem.h"
#include "items/MarkupFormat.h"
#include "items/RtfItem.h"
#include "items/TextItem.h"

namespace {

using Random = std::mt19937;

int Between(Random& random, int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }
double Unit(Random& random) { return std::uniform_real_distribution<double>(0.0, 1.0)(random); }
// As many short ones as long ones, the way copied texts come.
int LogBetween(Random& random, int low, int high) {
    return static_cast<int>(std::lround(low * std::pow(static_cast<double>(high) / low, Unit(random))));
}

const wchar_t* const kWords[] = {
    L"the", L"of", L"and", L"to", L"in", L"is", L"that", L"for", L"it", L"as", L"with", L"was", L"on", L"be",
    L"at", L"by", L"this", L"had", L"not", L"are", L"but", L"from", L"or", L"have", L"an", L"they", L"which",
    L"one", L"you", L"were", L"all", L"we", L"when", L"there", L"can", L"more", L"if", L"out", L"so", L"said",
    L"what", L"about", L"into", L"than", L"them", L"only", L"other", L"new", L"some", L"could", L"time",
    L"these", L"two", L"may", L"then", L"first", L"any", L"like", L"now", L"my", L"such", L"make", L"over",
    L"our", L"even", L"most", L"after", L"also", L"did", L"many", L"before", L"must", L"through", L"years",
    L"where", L"much", L"way", L"well", L"down", L"should", L"because", L"each", L"just", L"those", L"people",
    L"report", L"meeting", L"budget", L"quarter", L"server", L"release", L"customer", L"invoice", L"draft",
    L"schedule", L"review", L"design", L"feature", L"request", L"deadline", L"account", L"address", L"number",
    L"caf\u00e9", L"na\u00efve", L"Stra\u00dfe", L"\u20ac", L"r\u00e9sum\u00e9", L"\u2014", L"Z\u00fcrich",
    L"configuration", L"performance", L"measurement", L"archive", L"clipboard", L"window", L"document",
};
constexpr int kWordCount = static_cast<int>(sizeof(kWords) / sizeof(kWords[0]));

const wchar_t* Word(Random& random) { return kWords[Between(random, 0, kWordCount - 1)]; }

std::wstring Sentence(Random& random) {
    std::wstring sentence;
    const int words = Between(random, 4, 16);
    for (int i = 0; i < words; ++i) {
        if (i) sentence += L' ';
        sentence += Word(random);
    }
    if (!sentence.empty() && sentence[0] >= L'a' && sentence[0] <= L'z') sentence[0] = sentence[0] - L'a' + L'A';
    sentence += Unit(random) < 0.1 ? L"? " : L". ";
    return sentence;
}

std::wstring ShortText(Random& random) {
    switch (Between(random, 0, 3)) {
    case 0: {
        std::wstring url = L"https://www.example.org/";
        for (int i = Between(random, 1, 4); i > 0; --i) url += std::wstring(Word(random)) + L"/";
        return url + L"index.html?id=" + std::to_wstring(Between(random, 1, 999999));
    }
    case 1:
        return L"C:\\Users\\pat\\Documents\\" + std::wstring(Word(random)) + L"\\" + Word(random) + L".docx";
    case 2:
        return std::wstring(Word(random)) + L"." + Word(random) + L"@example.com";
    default:
        return std::to_wstring(Between(random, 100000, 999999999));
    }
}

// Copied texts: URLs, paths and names when short; sentences, lists and lines of
// code when long. CRLF line ends, as texts reach the clipboard.
std::wstring PlainText(Random& random, size_t length) {
    std::wstring text;
    if (length < 80 && Unit(random) < 0.5) text = ShortText(random);
    const bool code = Unit(random) < 0.15;
    while (text.size() < length) {
        if (code) {
            text += std::wstring(Between(random, 0, 3) * 4, L' ') + Word(random) + L"(" + Word(random) + L", " +
                    std::to_wstring(Between(random, 0, 4096)) + L");\r\n";
        } else {
            text += Sentence(random);
            if (Unit(random) < 0.2) text += L"\r\n";
        }
    }
    text.resize(length);
    return text;
}

std::string Utf8(const std::wstring& text) { return ToMultiByte(text, CP_UTF8); }

// A page fragment as browsers put it on the clipboard, with its plain text.
std::string HtmlDocument(Random& random, size_t bytes, std::wstring& plain) {
    std::string html = "<html>\r\n<body>\r\n<!--StartFragment-->";
    while (html.size() < bytes) {
        const int kind = Between(random, 0, 9);
        if (kind == 0) {
            const std::wstring heading = Sentence(random);
            html += "<h2 style=\"font-family:Segoe UI;color:#1f4e79\">" + Utf8(heading) + "</h2>\r\n";
            plain += heading + L"\r\n";
        } else if (kind == 1) {
            html += "<table border=\"1\" cellspacing=\"0\" style=\"border-collapse:collapse\">\r\n";
            for (int row = Between(random, 2, 6); row > 0; --row) {
                html += "<tr>";
                for (int cell = 0; cell < 4; ++cell) {
                    const std::wstring word = Word(random);
                    html += "<td style=\"padding:2px 6px\">" + Utf8(word) + "</td>";
                    plain += word + L"\t";
                }
                html += "</tr>\r\n";
                plain += L"\r\n";
            }
            html += "</table>\r\n";
        } else if (kind == 2) {
            const std::wstring word = Word(random);
            html += "<p><a href=\"https://www.example.org/" + Utf8(word) + "\">" + Utf8(word) + "</a></p>\r\n";
            plain += word + L"\r\n";
        } else {
            std::wstring paragraph;
            for (int i = Between(random, 1, 4); i > 0; --i) paragraph += Sentence(random);
            html += "<p style=\"margin:0;font-family:Calibri,sans-serif;font-size:11pt\"><span>" + Utf8(paragraph) +
                    "</span></p>\r\n";
            plain += paragraph + L"\r\n";
        }
    }
    return html + "<!--EndFragment-->\r\n</body>\r\n</html>";
}

void AppendRtfText(std::string& rtf, const std::wstring& text) {
    for (wchar_t c : text) {
        if (c == L'\\' || c == L'{' || c == L'}') {
            rtf += '\\';
            rtf += static_cast<char>(c);
        } else if (c < 0x80) {
            rtf += static_cast<char>(c);
        } else {
            rtf += "\\u" + std::to_string(static_cast<int16_t>(c)) + "?";
        }
    }
}

// A word processor's RTF, with its plain text.
std::string RtfDocument(Random& random, size_t bytes, std::wstring& plain) {
    std::string rtf =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\nouicompat\\deflang1033{\\fonttbl{\\f0\\fswiss\\fcharset0 Calibri;}"
        "{\\f1\\fmodern\\fcharset0 Consolas;}}\r\n{\\colortbl ;\\red31\\green78\\blue121;\\red192\\green0\\blue0;}\r\n"
        "{\\*\\generator Riched20 10.0.19041}\\viewkind4\\uc1\r\n";
    while (rtf.size() < bytes) {
        std::wstring paragraph;
        for (int i = Between(random, 1, 4); i > 0; --i) paragraph += Sentence(random);
        switch (Between(random, 0, 4)) {
        case 0:
            rtf += "\\pard\\sa200\\sl276\\slmult1\\cf1\\b\\f0\\fs28\\lang9 ";
            break;
        case 1:
            rtf += "\\pard\\sa200\\sl276\\slmult1\\cf0\\i\\f0\\fs22\\lang9 ";
            break;
        case 2:
            rtf += "\\pard\\fi-360\\li720\\sa200\\sl276\\slmult1\\cf2\\f1\\fs20\\lang9 ";
            break;
        default:
            rtf += "\\pard\\sa200\\sl276\\slmult1\\cf0\\b0\\i0\\f0\\fs22\\lang9 ";
            break;
        }
        AppendRtfText(rtf, paragraph);
        rtf += "\\par\r\n";
        plain += paragraph + L"\r\n";
    }
    return rtf + "}\r\n";
}

// Small letter shapes, so that lines of "text" in a picture repeat the way real
// text does and compress like it.
class Glyphs {
public:
    static constexpr int kWidth = 7, kHeight = 11, kCount = 80;

    explicit Glyphs(Random& random) : shapes_(kCount * kWidth * kHeight) {
        for (int g = 0; g < kCount; ++g)
            for (int y = 1; y < kHeight - 2; ++y)
                for (int x = 1; x < kWidth - 1; ++x) shapes_[(g * kHeight + y) * kWidth + x] = Unit(random) < 0.4;
    }
    bool On(int glyph, int x, int y) const { return shapes_[(glyph * kHeight + y) * kWidth + x] != 0; }

private:
    std::vector<uint8_t> shapes_;
};

// A screenshot-like picture: a title bar, flat panels, gradients, buttons,
// lines of text and now and then a photo.
class Picture {
public:
    Picture(int width, int height) : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height) {}

    void Fill(int left, int top, int right, int bottom, uint32_t color) {
        Clip(left, top, right, bottom);
        for (int y = top; y < bottom; ++y) std::fill_n(&pixels_[static_cast<size_t>(y) * width_ + left], right - left, color);
    }
    void HorizontalGradient(int left, int top, int right, int bottom, uint32_t from, uint32_t to) {
        Clip(left, top, right, bottom);
        for (int x = left; x < right; ++x) {
            const uint32_t color = Mix(from, to, right - left > 1 ? double(x - left) / (right - left - 1) : 0);
            for (int y = top; y < bottom; ++y) pixels_[static_cast<size_t>(y) * width_ + x] = color;
        }
    }
    void VerticalGradient(int left, int top, int right, int bottom, uint32_t from, uint32_t to) {
        Clip(left, top, right, bottom);
        for (int y = top; y < bottom; ++y)
            Fill(left, y, right, y + 1, Mix(from, to, bottom - top > 1 ? double(y - top) / (bottom - top - 1) : 0));
    }
    void Photo(Random& random, int left, int top, int right, int bottom) {
        Clip(left, top, right, bottom);
        const double fx = 0.002 + 0.01 * Unit(random), fy = 0.002 + 0.01 * Unit(random);
        uint32_t noise = static_cast<uint32_t>(random());
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x) {
                noise = noise * 1664525u + 1013904223u;
                const int n = static_cast<int>((noise >> 28) & 7);
                const int r = static_cast<int>(120 + 100 * std::sin(x * fx)) + n;
                const int g = static_cast<int>(110 + 90 * std::sin(y * fy + x * fx * 0.5)) + n;
                const int b = static_cast<int>(100 + 80 * std::cos(y * fy)) + n;
                pixels_[static_cast<size_t>(y) * width_ + x] = Rgb(r, g, b);
            }
    }
    void TextLines(Random& random, const Glyphs& glyphs, int left, int top, int right, int bottom, uint32_t ink) {
        Clip(left, top, right, bottom);
        for (int y = top + 4; y + Glyphs::kHeight < bottom; y += Glyphs::kHeight + 5) {
            const int end = left + static_cast<int>((right - left) * (0.3 + 0.7 * Unit(random)));
            const uint32_t color = Unit(random) < 0.1 ? 0x0563C1 : ink;
            for (int x = left + 4; x + Glyphs::kWidth < end; x += Glyphs::kWidth) {
                if (Unit(random) < 0.16) continue;  // a space
                const int glyph = Between(random, 0, Glyphs::kCount - 1);
                for (int gy = 0; gy < Glyphs::kHeight; ++gy)
                    for (int gx = 0; gx < Glyphs::kWidth; ++gx)
                        if (glyphs.On(glyph, gx, gy)) pixels_[static_cast<size_t>(y + gy) * width_ + x + gx] = color;
            }
        }
    }

    // A packed CF_DIB block, bottom-up, at 24 or 32 bits.
    Bytes Dib(int depth) const {
        const size_t row = ((static_cast<size_t>(width_) * depth + 31) / 32) * 4;
        const BITMAPINFOHEADER header =
            MakeHeader(width_, height_, depth, BI_RGB, 0, static_cast<DWORD>(row * height_));
        Bytes dib(sizeof(header) + header.biSizeImage);
        std::memcpy(dib.data(), &header, sizeof(header));
        for (int y = 0; y < height_; ++y) {
            uint8_t* out = dib.data() + sizeof(header) + row * (height_ - 1 - y);
            const uint32_t* in = &pixels_[static_cast<size_t>(y) * width_];
            for (int x = 0; x < width_; ++x) {
                *out++ = static_cast<uint8_t>(in[x]);
                *out++ = static_cast<uint8_t>(in[x] >> 8);
                *out++ = static_cast<uint8_t>(in[x] >> 16);
                if (depth == 32) *out++ = 0;
            }
        }
        return dib;
    }

private:
    static uint32_t Rgb(int r, int g, int b) {
        auto clamp = [](int v) { return static_cast<uint32_t>(std::clamp(v, 0, 255)); };
        return clamp(r) << 16 | clamp(g) << 8 | clamp(b);
    }
    static uint32_t Mix(uint32_t from, uint32_t to, double t) {
        auto channel = [&](int shift) {
            const int a = (from >> shift) & 0xFF, b = (to >> shift) & 0xFF;
            return static_cast<int>(std::lround(a + (b - a) * t));
        };
        return Rgb(channel(16), channel(8), channel(0));
    }
    void Clip(int& left, int& top, int& right, int& bottom) const {
        left = std::clamp(left, 0, width_);
        right = std::clamp(right, left, width_);
        top = std::clamp(top, 0, height_);
        bottom = std::clamp(bottom, top, height_);
    }

    int width_, height_;
    std::vector<uint32_t> pixels_;
};

Bytes ScreenshotDib(Random& random, const Glyphs& glyphs) {
    const int width = Between(random, 200, 1920), height = Between(random, 200, 1080);
    Picture picture(width, height);
    const uint32_t panel = Unit(random) < 0.8 ? 0xFFFFFF : 0x1E1E1E;
    const uint32_t ink = panel == 0xFFFFFF ? 0x202020 : 0xD4D4D4;
    picture.Fill(0, 0, width, height, panel);
    picture.HorizontalGradient(0, 0, width, 30, 0x1F4E79, 0x6FA8DC);
    picture.Fill(0, 30, width, 52, 0xF3F3F3);
    picture.TextLines(random, glyphs, 0, 30, width / 2, 52, 0x000000);
    const int sidebar = width / Between(random, 4, 7);
    picture.VerticalGradient(0, 52, sidebar, height, 0xE8E8E8, 0xC8C8C8);
    picture.TextLines(random, glyphs, 0, 52, sidebar, height, 0x303030);
    picture.TextLines(random, glyphs, sidebar + 8, 60, width - 8, height - 8, ink);
    for (int i = Between(random, 2, 6); i > 0; --i) {
        const int x = Between(random, sidebar, std::max(sidebar, width - 90)), y = Between(random, 52, height - 30);
        picture.Fill(x, y, x + 88, y + 26, 0xADADAD);
        picture.Fill(x + 1, y + 1, x + 87, y + 25, 0xE1E1E1);
    }
    if (Unit(random) < 0.4) {
        const int x = Between(random, sidebar, width * 2 / 3), y = Between(random, 52, height * 2 / 3);
        picture.Photo(random, x, y, x + Between(random, 80, width / 2), y + Between(random, 60, height / 2));
    }
    return picture.Dib(Unit(random) < 0.7 ? 32 : 24);
}

struct Application {
    const char* className;
    int weight;
    std::vector<const char*> titles;
    LPCSTR icon;
    DWORD atom = 0;
};

// The windows the captures are made from, one class each, and their ".app" files.
class Applications {
public:
    Applications() {
        apps_ = {
            {"SvGen.Notepad", 14, {"notes.txt - Notepad", "todo.txt - Notepad", "Untitled - Notepad"}, IDI_APPLICATION},
            {"SvGen.Firefox", 22, {"Mozilla Firefox", "Inbox - Mail - Mozilla Firefox", "Search - Mozilla Firefox",
                                   "Release notes - Mozilla Firefox"}, IDI_INFORMATION},
            {"SvGen.Word", 12, {"Quarterly report.docx - Word", "Letter.docx - Word", "Caf\xe9 r\xe9sum\xe9.docx - Word"},
             IDI_WINLOGO},
            {"SvGen.Excel", 8, {"Budget.xlsx - Excel", "Schedule.xlsx - Excel"}, IDI_QUESTION},
            {"SvGen.Console", 9, {"Command Prompt", "Windows PowerShell"}, IDI_ERROR},
            {"SvGen.Chrome", 10, {"New Tab - Google Chrome", "Issue tracker - Google Chrome"}, IDI_WARNING},
            {"SvGen.Outlook", 8, {"Inbox - pat@example.com - Outlook", "Meeting - Message (HTML)"}, IDI_SHIELD},
            {"SvGen.Code", 7, {"main.cpp - project - Visual Studio Code", "README.md - project - Visual Studio Code"},
             IDI_APPLICATION},
            {"SvGen.Terminal", 4, {"pat@host: ~", "pat@host: ~/src"}, IDI_ERROR},
            {"SvGen.Paint", 2, {"Untitled - Paint", "screenshot.png - Paint"}, IDI_INFORMATION},
            {"SvGen.Acrobat", 2, {"manual.pdf - Adobe Acrobat Reader"}, IDI_WARNING},
            {"SvGen.Explorer", 2, {"Documents", "Downloads"}, IDI_WINLOGO},
            // Changes no window could be named for.
            {nullptr, 1, {kUnknownApplication}, nullptr},
        };
        for (const Application& app : apps_) total_ += app.weight;
    }
    ~Applications() {
        for (HWND window : windows_) ::DestroyWindow(window);
        for (const Application& app : apps_)
            if (app.className) ::UnregisterClassA(app.className, ::GetModuleHandleA(nullptr));
    }

    bool Write(const std::string& appData) {
        for (Application& app : apps_) {
            SourceApp source;
            if (!app.className) {
                source.InitUnknown();
            } else {
                WNDCLASSA windowClass = {};
                windowClass.lpfnWndProc = ::DefWindowProcA;
                windowClass.hInstance = ::GetModuleHandleA(nullptr);
                windowClass.lpszClassName = app.className;
                windowClass.hIcon = ::LoadIconA(nullptr, app.icon);
                ::RegisterClassA(&windowClass);
                HWND window = ::CreateWindowExA(0, app.className, app.titles[0], WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                                nullptr, nullptr, windowClass.hInstance, nullptr);
                if (!window) return false;
                windows_.push_back(window);
                if (!source.InitFromWindow(window)) return false;
            }
            app.atom = source.ClassAtom;
            if (!source.WriteAppFile(MakeUniqueFileName(appData, nullptr, ".app"))) return false;
        }
        return true;
    }

    const Application& Pick(Random& random) const {
        int left = Between(random, 0, total_ - 1);
        for (const Application& app : apps_) {
            if (left < app.weight) return app;
            left -= app.weight;
        }
        return apps_.back();
    }

private:
    std::vector<Application> apps_;
    std::vector<HWND> windows_;
    int total_ = 0;
};

// Capture times: today's between midnight and now, earlier ones on whole local
// days, clear of midnight so that no rounding moves them to another day.
class Calendar {
public:
    Calendar() : now_(CurrentCaptureTime()) {
        SYSTEMTIME local;
        ::GetLocalTime(&local);
        local.wHour = local.wMinute = local.wSecond = local.wMilliseconds = 0;
        // The inverse of what CaptureTimeToLocal does, so the days agree with its folders.
        FILETIME localFile, utcFile;
        SYSTEMTIME utc;
        ::SystemTimeToFileTime(&local, &localFile);
        ::LocalFileTimeToFileTime(&localFile, &utcFile);
        ::FileTimeToSystemTime(&utcFile, &utc);
        ::SystemTimeToVariantTime(&utc, &midnight_);
    }

    double Today(Random& random) const {
        const int seconds = static_cast<int>((now_ - midnight_) * 86400.0) - 60;
        if (seconds <= 60) return now_;
        return midnight_ + Between(random, 60, seconds) / 86400.0;
    }
    double DaysAgo(Random& random, int days) const {
        return midnight_ - days + Between(random, 3600, 86400 - 3600) / 86400.0;
    }

private:
    double now_;
    double midnight_ = 0;
};

std::unique_ptr<TextItem> MakeText(const std::wstring& text) {
    auto item = std::make_unique<TextItem>();
    item->SetText(text);
    return item;
}

// The items of one change, text first, as a capture stores them.
std::vector<std::unique_ptr<ClipItem>> MakeItems(Random& random, const Glyphs& glyphs) {
    std::vector<std::unique_ptr<ClipItem>> items;
    const double kind = Unit(random);
    if (kind < 0.90) {
        items.push_back(MakeText(PlainText(random, static_cast<size_t>(LogBetween(random, 20, 2000)))));
    } else if (kind < 0.94) {
        std::wstring plain;
        const std::string html = HtmlDocument(random, static_cast<size_t>(LogBetween(random, 2048, 20480)), plain);
        auto htmlItem = std::make_unique<HtmlItem>();
        htmlItem->SetFromCfHtml(BuildCfHtmlHeader(html.size()) + html);
        items.push_back(MakeText(plain));
        // Word processors offer RTF as well.
        if (Unit(random) < 0.25) {
            std::wstring ignored;
            auto rtf = std::make_unique<RtfItem>();
            rtf->SetRtf(RtfDocument(random, html.size(), ignored));
            items.push_back(std::move(rtf));
        }
        items.push_back(std::move(htmlItem));
    } else if (kind < 0.98) {
        std::wstring plain;
        auto rtf = std::make_unique<RtfItem>();
        rtf->SetRtf(RtfDocument(random, static_cast<size_t>(LogBetween(random, 2048, 20480)), plain));
        items.push_back(MakeText(plain));
        items.push_back(std::move(rtf));
    } else {
        const Bytes dib = ScreenshotDib(random, glyphs);
        auto bitmap = std::make_unique<BitmapItem>();
        if (bitmap->SetFromDib(dib.data(), dib.size())) items.push_back(std::move(bitmap));
    }
    return items;
}

}  // namespace

bool GenerateArchive(const std::string& folder, const ArchiveShape& shape, GeneratedArchive* written) {
    const std::string archive = WithTrailingBackslash(folder);
    const std::string appData = archive + "AppData\\";
    CreateFolderPath(appData);
    Applications applications;
    if (!applications.Write(appData)) return false;
    const Calendar calendar;
    Random shared(shape.seed);
    const Glyphs glyphs(shared);

    // Under Wine, creating a name in a folder reads the whole folder (names are
    // matched without regard to case), and a writer creates two: its temporary
    // file and the target. Files are therefore written in a small folder beside
    // the archive and then moved into place, which reads the big one only once.
    const std::string staging = archive.substr(0, archive.size() - 1) + ".staging\\";
    DeleteFolderTree(staging);
    CreateFolderPath(staging);
    std::mutex foldersLock;
    std::set<std::string> createdFolders;
    auto place = [&](const std::string& stagedPath, const std::string& targetFolder) {
        const std::string name = stagedPath.substr(staging.size());
        return ::MoveFileExA(stagedPath.c_str(), (targetFolder + name).c_str(), 0) != FALSE;
    };

    std::atomic<int> captures{0}, items{0}, todayCaptures{0}, todayItems{0};
    std::atomic<bool> failed{false};
    // Each capture draws from its own generator, so the contents do not depend
    // on which thread makes them, or in which order.
    ParallelFor(static_cast<size_t>(std::max(shape.captures, 0)), WorkerThreads(), [&](size_t i) {
        if (failed) return;
        Random random(shape.seed * 1000003u + static_cast<unsigned>(i));
        const bool today = shape.days <= 0 || Unit(random) < shape.todayShare;
        // Recent days hold more than older ones.
        const double u = Unit(random);
        const double time =
            today ? calendar.Today(random)
                  : calendar.DaysAgo(random, 1 + std::min(shape.days - 1, static_cast<int>(shape.days * u * u)));
        const Application& app = applications.Pick(random);

        CaptureRecord record;
        ::CoCreateGuid(&record.CaptureGuid);
        record.ClassAtom = app.atom;
        record.Title = app.titles[Between(random, 0, static_cast<int>(app.titles.size()) - 1)];
        record.CaptureTime = time;
        const std::string recordPath = MakeUniqueFileName(staging, nullptr, ".se");
        if (!record.WriteFile(recordPath) || !place(recordPath, appData)) {
            failed = true;
            return;
        }

        const auto made = MakeItems(random, glyphs);
        // Named and placed as StoreItem does, with each date folder made once.
        const std::string dateFolder = archive + DateFolderName(time) + "\\";
        {
            std::lock_guard<std::mutex> lock(foldersLock);
            if (createdFolders.insert(dateFolder).second) CreateFolderPath(dateFolder);
        }
        for (const auto& item : made) {
            item->SetCaptureTime(time);
            item->SetSourceGuid(record.CaptureGuid);
            const std::string itemPath = MakeUniqueFileName(staging, "C", ItemFileExtension(item->TypeCode()));
            if (!WriteItemFile(*item, itemPath) || !place(itemPath, dateFolder)) {
                failed = true;
                return;
            }
        }
        ++captures;
        items += static_cast<int>(made.size());
        if (today) {
            ++todayCaptures;
            todayItems += static_cast<int>(made.size());
        }
    });
    DeleteFolderTree(staging);
    if (failed) return false;
    if (written) *written = {captures, items, todayCaptures, todayItems};
    return true;
}

bool GenerateArchive(const std::string& folder, int captures, unsigned seed) {
    ArchiveShape shape;
    shape.captures = captures;
    shape.seed = seed;
    return GenerateArchive(folder, shape);
}
