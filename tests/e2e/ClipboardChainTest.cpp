// The running copy in the clipboard-viewer chain: every change reaches the
// viewers after it, captured or not; the chain is repaired around a viewer that
// leaves; paused, own and repeated changes add nothing to the archive.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "ScrapvaultFixture.h"
#include "archive/CaptureRecord.h"
#include "archive/ItemFile.h"
#include "framework/UniqueHandle.h"
#include "items/TextItem.h"
#include "resources/resource.h"
#include "shell/MainFrame.h"
#include "support/ClipboardHelper.h"

namespace {

std::string Utf16Text(const wchar_t* text) {
    return std::string(reinterpret_cast<const char*>(text), (wcslen(text) + 1) * sizeof(wchar_t));
}

// Wine's stand-in for the notification area (there is no real one on a bare X
// display) is a visible window that takes the foreground whenever the shown
// window goes; it is kept disabled, so it cannot, for the guard's lifetime.
// (Hiding it instead stalls for two seconds without a window manager.)
class InactiveTrayWindow {
public:
    InactiveTrayWindow() : tray_(::FindWindowA("__winex11_standalone_tray", nullptr)) {
        if (tray_) ::EnableWindow(tray_, FALSE);
    }
    ~InactiveTrayWindow() {
        if (tray_) ::EnableWindow(tray_, TRUE);
    }

private:
    HWND tray_;
};

}  // namespace

class ClipboardChainTest : public ScrapvaultFixture {
protected:
    // A change made by this test, through its own hidden window.
    bool SetText(const wchar_t* text) { return clipboard_.Set({{CF_UNICODETEXT, Utf16Text(text)}}); }

    ClipboardHelper clipboard_;
    const std::string before_ = reports_ / "before.txt";
    const std::string after_ = reports_ / "after.txt";
};

TEST_F(ClipboardChainTest, PausedChangesReachEveryViewerAndAreNotCaptured) {
    // before_ joins the chain before the program (it is the program's next
    // viewer), after_ joins after it (the program is its next viewer).
    auto viewerBefore = StartViewer(before_);
    HWND window = nullptr;
    auto copy = StartRunningCopy(window);
    ASSERT_NE(nullptr, window);
    auto viewerAfter = StartViewer(after_);
    ::SendMessageA(window, WM_COMMAND, ID_FILE_PAUSE, 0);

    int seenBefore = ReportCount(before_, "draw"), seenAfter = ReportCount(after_, "draw");
    ASSERT_TRUE(SetText(L"paused change"));
    EXPECT_TRUE(WaitForReportCount(after_, "draw", seenAfter + 1));
    EXPECT_TRUE(WaitForReportCount(before_, "draw", seenBefore + 1));

    // Pause off: the same path now captures, and only this change.
    ::SendMessageA(window, WM_COMMAND, ID_FILE_PAUSE, 0);
    seenBefore = ReportCount(before_, "draw");
    ASSERT_TRUE(SetText(L"captured change"));
    EXPECT_TRUE(WaitForReportCount(before_, "draw", seenBefore + 1));
    EXPECT_EQ(1u, WaitForArchiveFiles(".se", 1).size());
    EXPECT_EQ(1u, WaitForArchiveFiles(".tx", 1).size());
}

TEST_F(ClipboardChainTest, ChangeOwnedByTheProgramsWindowCreatesNothing) {
    auto viewer = StartViewer(before_);
    HWND window = nullptr;
    auto copy = StartRunningCopy(window);
    ASSERT_NE(nullptr, window);

    const int seen = ReportCount(before_, "draw");
    auto setter = StartClipSetter("--owner " + HexHandle(window) + " --hold 0 --text own");
    ASSERT_EQ(0u, setter->WaitForExit().value_or(1234));
    EXPECT_TRUE(WaitForReportCount(before_, "draw", seen + 1));
    EXPECT_EQ(window, ::GetClipboardOwner());
    // A change of this test's own comes after it: it alone is captured.
    ASSERT_TRUE(SetText(L"sentinel"));
    EXPECT_EQ(1u, WaitForArchiveFiles(".se", 1).size());
    WaitUntilIdle(window);
    EXPECT_EQ(1u, ArchiveFiles(".tx").size());
}

TEST_F(ClipboardChainTest, ChainIsRepairedAroundLeavingViewers) {
    // The chain from its head: first, the program, nearest, middle, farthest.
    const std::string farthest = reports_ / "farthest.txt", middle = reports_ / "middle.txt", nearest = reports_ / "nearest.txt";
    auto farViewer = StartViewer(farthest);
    auto middleViewer = StartViewer(middle);
    auto nearViewer = StartViewer(nearest);
    HWND window = nullptr;
    auto copy = StartRunningCopy(window);
    ASSERT_NE(nullptr, window);
    auto firstViewer = StartViewer(after_);

    // The program's next viewer leaves: the program links to the one after it.
    nearViewer->Close();
    ASSERT_FALSE(nearViewer->IsRunning());
    const int seenMiddle = ReportCount(middle, "draw"), seenFarthest = ReportCount(farthest, "draw");
    ASSERT_TRUE(SetText(L"after the repair"));
    EXPECT_TRUE(WaitForReportCount(middle, "draw", seenMiddle + 1));
    EXPECT_TRUE(WaitForReportCount(farthest, "draw", seenFarthest + 1));

    // A viewer further down leaves: the notice passes the program on its way.
    const int notices = ReportCount(middle, "chain");
    farViewer->Close();
    EXPECT_TRUE(WaitForReportCount(middle, "chain", notices + 1));
    WaitUntilIdle(window);
    EXPECT_TRUE(copy->IsRunning());
}

TEST_F(ClipboardChainTest, NotificationDuringACaptureStartsNoSecondOne) {
    auto viewer = StartViewer(before_);
    HWND window = nullptr;
    auto copy = StartRunningCopy(window);
    ASSERT_NE(nullptr, window);

    // The setter renders its text on request and, before it does, sends the
    // program a second notification while its capture waits for the data.
    const int seen = ReportCount(before_, "draw");
    auto setter = StartClipSetter("--delayed --poke " + HexHandle(window) + " --hold 20000 --text nested");
    ASSERT_TRUE(WaitForReportCount(before_, "draw", seen + 2));
    EXPECT_EQ(1u, WaitForArchiveFiles(".tx", 1).size());

    // Another notice for the clipboard already captured adds nothing, and is passed on.
    ::SendMessageA(window, WM_DRAWCLIPBOARD, 0, 0);
    EXPECT_TRUE(WaitForReportCount(before_, "draw", seen + 3));
    // The next change is the only one captured after the first.
    ASSERT_TRUE(SetText(L"sentinel"));
    EXPECT_EQ(2u, WaitForArchiveFiles(".tx", 2).size());
    WaitUntilIdle(window);
    EXPECT_EQ(2u, ArchiveFiles(".se").size());
}

TEST_F(ClipboardChainTest, ChangeWithoutASourceWindowIsStillArchived) {
    auto viewer = StartViewer(before_);
    HWND window = nullptr;
    auto copy = StartRunningCopy(window);
    ASSERT_NE(nullptr, window);
    // Once a shown window is gone and no other can take over, no window is in the foreground.
    InactiveTrayWindow inactiveTray;
    HWND shown = ::CreateWindowExA(0, "STATIC", "shown", WS_POPUP | WS_VISIBLE, 0, 0, 20, 20, nullptr, nullptr,
                                   nullptr, nullptr);
    ASSERT_TRUE(WaitUntil([shown] { return ::GetForegroundWindow() == shown; }));
    ::DestroyWindow(shown);
    ASSERT_TRUE(WaitUntil([] { return ::GetForegroundWindow() == nullptr; }));

    // An owner that is no child to climb from: the change is the owner's.
    int seen = ReportCount(before_, "draw");
    ASSERT_TRUE(SetText(L"owner without foreground"));
    ASSERT_TRUE(WaitForReportCount(before_, "draw", seen + 1));
    std::vector<std::string> records = WaitForArchiveFiles(".se", 1);
    ASSERT_EQ(1u, records.size());
    CaptureRecord byOwner;
    ASSERT_TRUE(byOwner.ReadFile(archive_ / records[0]));
    EXPECT_EQ("clipboard test helper", byOwner.Title);
    EXPECT_EQ(::GetClassLongA(clipboard_.Window(), GCW_ATOM), byOwner.ClassAtom);

    // No owner at all: an unknown application's change, archived all the same.
    ASSERT_EQ(nullptr, ::GetForegroundWindow());
    seen = ReportCount(before_, "draw");
    auto setter = StartClipSetter("--no-owner --hold 0 --text nobody");
    ASSERT_EQ(0u, setter->WaitForExit().value_or(1234));
    ASSERT_TRUE(WaitForReportCount(before_, "draw", seen + 1));
    records = WaitForArchiveFiles(".se", 2);
    ASSERT_EQ(2u, records.size());
    int unknown = 0;
    for (const std::string& record : records) {
        CaptureRecord capture;
        ASSERT_TRUE(capture.ReadFile(archive_ / record));
        if (capture.ClassAtom == 0 && capture.Title == "Unknown Application") ++unknown;
    }
    EXPECT_EQ(1, unknown);
}

TEST_F(ClipboardChainTest, NativeX11ProgramsChangeIsCapturedWithItsText) {
    auto viewer = StartViewer(before_);
    HWND window = nullptr;
    auto copy = StartRunningCopy(window);
    ASSERT_NE(nullptr, window);
    // A Windows program holds the clipboard first, so Wine's bridge has it to give up.
    int seen = ReportCount(before_, "draw");
    ASSERT_TRUE(SetText(L"held by a Windows program"));
    ASSERT_TRUE(WaitForReportCount(before_, "draw", seen + 1));
    ASSERT_EQ(1u, WaitForArchiveFiles(".tx", 1).size());

    // xclip, a native X11 program, takes the clipboard. Wine sometimes announces
    // this twice, the second time while the capture fetches the text from X11,
    // after its bridge refilled the clipboard; the first capture then finds no
    // data and leaves a record without items. The text is kept once either way.
    const std::string unixFile = "/tmp/svault-xclip-" + std::to_string(::GetCurrentProcessId()) + ".txt";
    const std::string windowsFile = "Z:" + std::string(unixFile);
    std::string dosFile = windowsFile;
    for (char& c : dosFile)
        if (c == '/') c = '\\';
    ASSERT_TRUE(WriteFileBytes(dosFile, "copied in X11"));
    seen = ReportCount(before_, "draw");
    {
        // A Unix program: Wine starts it but gives no handle to wait on; it
        // serves the text in the background until another program takes the
        // clipboard (at the end of this test).
        ChildProcess xclip("Z:\\usr\\bin\\xclip", "-selection clipboard -i " + unixFile, "");
        ASSERT_TRUE(xclip.Started()) << xclip.StartError();
    }
    ASSERT_TRUE(WaitForReportCount(before_, "draw", seen + 1));
    EXPECT_EQ(2u, WaitForArchiveFiles(".tx", 2).size());
    // Taking the clipboard back ends xclip; its capture comes after any second
    // notice of the X11 change.
    EXPECT_TRUE(SetText(L"taken back"));
    const std::vector<std::string> texts = WaitForArchiveFiles(".tx", 3);
    EXPECT_EQ(3u, texts.size());
    WaitUntilIdle(window);
    // Wine's bridge may empty the clipboard under a capture of the X11 change,
    // which then records the change without an item.
    const size_t records = ArchiveFiles(".se").size();
    EXPECT_TRUE(records == 3 || records == 4) << records;
    int fromX11 = 0;
    for (const std::string& file : texts) {
        TextItem item;
        ASSERT_TRUE(ReadItemFile(item, archive_ / file));
        if (item.Text() == L"copied in X11") ++fromX11;
    }
    EXPECT_EQ(1, fromX11);
    ::DeleteFileA(dosFile.c_str());
}

namespace {

// The visible dialog (a #32770) of the process, if one is open.
HWND DialogOfProcess(DWORD process) {
    struct Search {
        DWORD process;
        HWND found;
    } search{process, nullptr};
    ::EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            char name[16] = {};
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            ::GetClassNameA(window, name, sizeof(name));
            if (owner != s->process || std::string(name) != "#32770" || !::IsWindowVisible(window)) return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

TEST_F(ClipboardChainTest, ChangesWhileTheSizeWarningIsOpenAreEachCapturedAndPassedOn) {
    // An archive already past a limit of one megabyte: the first capture warns.
    ASSERT_TRUE(WriteFileBytes(archive_ / "filler.bin", std::string(2 * 1024 * 1024, 'x')));
    {
        UniqueRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey().c_str(), 0, KEY_SET_VALUE, key.put()));
        const DWORD limit = 1;
        ::RegSetValueExA(key.get(), "DiskSizeLimit", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&limit), sizeof(limit));
    }
    ::RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\Brindlework\\Scrapvault\\1.0\\Warnings", "109");
    auto viewer = StartViewer(before_);
    HWND window = nullptr;
    auto copy = StartRunningCopy(window);
    ASSERT_NE(nullptr, window);

    ASSERT_TRUE(SetText(L"first"));
    HWND warning = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (warning = DialogOfProcess(copy->Id())) != nullptr; }));

    // Three copies a second apart while the box stays open: the next viewer hears
    // of each at once, and each is captured at its own time.
    for (int i = 1; i <= 3; ++i) {
        ::Sleep(1100);  // capture times count whole seconds
        const int seen = ReportCount(before_, "draw");
        ASSERT_TRUE(SetText(i == 1 ? L"A" : i == 2 ? L"B" : L"C"));
        EXPECT_TRUE(WaitForReportCount(before_, "draw", seen + 1)) << i;
        EXPECT_EQ(static_cast<size_t>(1 + i), WaitForArchiveFiles(".se", 1 + i).size()) << i;
        EXPECT_TRUE(::IsWindow(warning)) << "the warning is still open";
        EXPECT_EQ(warning, DialogOfProcess(copy->Id())) << "no second warning";
    }
    std::vector<double> times;
    for (const std::string& file : ArchiveFiles(".se")) {
        CaptureRecord record;
        ASSERT_TRUE(record.ReadFile(archive_ / file));
        times.push_back(record.CaptureTime);
    }
    std::sort(times.begin(), times.end());
    EXPECT_EQ(times.end(), std::adjacent_find(times.begin(), times.end())) << "every capture has its own time";
    ::PostMessageA(warning, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(warning); }));
}
