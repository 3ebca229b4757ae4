// The capture of one change against the sources that make it hard: slow to
// answer, closing while their change is read, alike in size but not in bytes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "archive/ItemArchive.h"
#include "base/CaptureTime.h"
#include "items/TextItem.h"
#include "support/ClipboardHelper.h"
#include "support/TempFolder.h"

namespace {

constexpr double kSecond = 1.0 / 86400;

std::string Utf16Bytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
}

// A program that takes its time to answer WM_GETICON, and counts the questions.
int gIconQuestions = 0;
LRESULT CALLBACK SlowToAnswerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GETICON) {
        ++gIconQuestions;
        ::Sleep(2200);
        return reinterpret_cast<LRESULT>(::LoadIconA(nullptr, IDI_APPLICATION));
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

class CaptureTest : public ::testing::Test {
protected:
    CaptureTest() {
        options_.folder = folder_.Path();
        archive_.LoadArchive(options_);
    }

    HWND MakeWindow(const char* className, WNDPROC procedure) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = className;
        ::RegisterClassA(&windowClass);
        return ::CreateWindowExA(0, className, "Capture Source", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                 ::GetModuleHandleA(nullptr), nullptr);
    }

    TempFolder folder_;
    ArchiveOptions options_;
    ItemArchive archive_;
    ClipboardHelper clipboard_;
};

TEST_F(CaptureTest, AChangeKeepsTheTimeItWasTakenAndAKnownClassIsNotAskedAgain) {
    HWND source = MakeWindow("SvaultSlowSource", SlowToAnswerProc);
    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"first")}}));
    const double before = CurrentCaptureTime();
    ASSERT_TRUE(archive_.Capture(source));
    const CaptureRecord& record = *archive_.Captures().begin()->second;
    EXPECT_LE(record.CaptureTime, before + 1.5 * kSecond);
    EXPECT_EQ(record.CaptureTime, archive_.Items()[0]->CaptureTime());
    EXPECT_EQ(1, gIconQuestions);

    ASSERT_TRUE(clipboard_.Set({{CF_UNICODETEXT, Utf16Bytes(L"second")}}));
    ASSERT_TRUE(archive_.Capture(source));
    EXPECT_EQ(1, gIconQuestions);
    EXPECT_EQ(2u, archive_.Captures().size());
    ::DestroyWindow(source);
}

TEST_F(CaptureTest, ASourceThatHoldsTheClipboardAndClosesIsStillArchivedAsUnknown) {
    // A "copy and close" dialog on another thread: it keeps the clipboard open
    // a moment, then closes (which closes the clipboard too).
    std::atomic<HWND> dialog{nullptr};
    std::thread program([&] {
        HWND window = ::CreateWindowExA(0, "STATIC", "Copy and Close", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                        nullptr, nullptr, nullptr);
        if (::OpenClipboard(window)) {
            ::EmptyClipboard();
            const std::string text = Utf16Bytes(L"copied and gone");
            HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, text.size());
            std::memcpy(::GlobalLock(memory), text.data(), text.size());
            ::GlobalUnlock(memory);
            ::SetClipboardData(CF_UNICODETEXT, memory);
        }
        dialog = window;
        ::Sleep(200);
        ::DestroyWindow(window);
    });
    while (!dialog) ::Sleep(1);
    const bool added = archive_.Capture(dialog);
    program.join();

    EXPECT_TRUE(added);
    ASSERT_EQ(1u, archive_.Items().size());
    EXPECT_EQ(L"copied and gone", static_cast<TextItem&>(*archive_.Items()[0]).Text());
    ASSERT_EQ(1u, archive_.Captures().size());
    EXPECT_EQ("Unknown Application", archive_.Captures().begin()->second->Title);
}

TEST_F(CaptureTest, MetafilesOfOneSizeAreToldApartByTheirBytes) {
    auto setPicture = [&](int left) {
        HDC dc = ::CreateEnhMetaFileA(nullptr, nullptr, nullptr, nullptr);
        ::Rectangle(dc, left, 10, left + 40, 50);
        HENHMETAFILE picture = ::CloseEnhMetaFile(dc);
        ASSERT_TRUE(::OpenClipboard(clipboard_.Window()));
        ::EmptyClipboard();
        ::SetClipboardData(CF_ENHMETAFILE, picture);
        ::CloseClipboard();
    };
    setPicture(10);
    ASSERT_TRUE(archive_.Capture(nullptr));
    // The same picture again is the change already taken; another one of the same size is not.
    setPicture(10);
    EXPECT_FALSE(archive_.Capture(nullptr, CaptureMode::kUnlessAlreadyCaptured));
    setPicture(20);
    EXPECT_TRUE(archive_.Capture(nullptr, CaptureMode::kUnlessAlreadyCaptured));
}

}  // namespace
