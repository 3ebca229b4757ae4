#include "archive/SourceApp.h"

#include <gtest/gtest.h>

#include "base/RecordFile.h"
#include "shell/MainWindowHandle.h"
#include "support/TempFolder.h"

namespace {

// A top-level window of its own class, with or without a class icon.
class TestWindow {
public:
    TestWindow(const char* className, const char* title, HICON icon, DWORD style = WS_OVERLAPPEDWINDOW,
               HWND parent = nullptr) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = ::DefWindowProcA;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = className;
        windowClass.hIcon = icon;
        ::RegisterClassA(&windowClass);
        window_.reset(::CreateWindowExA(0, className, title, style, 0, 0, 120, 80, parent, nullptr,
                                        windowClass.hInstance, nullptr));
    }
    HWND get() const { return window_.get(); }

private:
    UniqueWindow window_;
};

TEST(SourceAppTest, IconTitleAndAtomSurviveTheApplicationFile) {
    TempFolder folder;
    TestWindow window("SourceAppTestIcon", "Editor \xe9t\xe9", ::LoadIconA(nullptr, IDI_APPLICATION));
    ASSERT_TRUE(window.get());
    SourceApp app;
    ASSERT_TRUE(app.InitFromWindow(window.get()));
    ASSERT_NE(nullptr, app.Icon());
    EXPECT_EQ(::GetClassLongA(window.get(), GCW_ATOM), app.ClassAtom);
    const std::string path = folder / "app.app";
    EXPECT_TRUE(app.WriteAppFile(path));

    // "A", "T" in UTF-8, then the colour and mask pictures.
    const std::string bytes = ReadFileBytes(path);
    EXPECT_NE(std::string::npos, bytes.find("Editor \xc3\xa9t\xc3\xa9"));

    SourceApp loaded;
    ASSERT_TRUE(loaded.ReadAppFile(path, nullptr));
    EXPECT_EQ(app.ClassAtom, loaded.ClassAtom);
    EXPECT_EQ("Editor \xe9t\xe9", loaded.Title);
    // The program, last: after the pictures that earlier builds read.
    ASSERT_NE("", app.ProgramKey);
    EXPECT_EQ(app.ProgramKey, loaded.ProgramKey);
    const uint32_t length = static_cast<uint32_t>(app.ProgramKey.size());
    EXPECT_EQ("P" + std::string(reinterpret_cast<const char*>(&length), 4) + app.ProgramKey,
              bytes.substr(bytes.size() - length - 5));
    ICONINFO original = {}, rebuilt = {};
    ASSERT_TRUE(::GetIconInfo(app.Icon(), &original));
    ASSERT_TRUE(::GetIconInfo(loaded.Icon(), &rebuilt));
    UniqueBitmap a(original.hbmColor), b(original.hbmMask), c(rebuilt.hbmColor), d(rebuilt.hbmMask);
    BITMAP before = {}, after = {};
    ::GetObjectA(original.hbmColor, sizeof(before), &before);
    ::GetObjectA(rebuilt.hbmColor, sizeof(after), &after);
    EXPECT_EQ(before.bmWidth, after.bmWidth);
    EXPECT_EQ(before.bmHeight, after.bmHeight);
    EXPECT_TRUE(rebuilt.fIcon);
}

TEST(SourceAppTest, WindowWithoutIconOrTitleFallsBackToTheProgramsOwn) {
    TempFolder folder;
    TestWindow window("SourceAppTestBare", "", nullptr);
    SourceApp app;
    ASSERT_TRUE(app.InitFromWindow(window.get()));
    EXPECT_EQ(nullptr, app.Icon());
    EXPECT_EQ("Unknown Application", app.Title);
    const std::string path = folder / "bare.app";
    EXPECT_TRUE(app.WriteAppFile(path)) << "no icon: the file keeps only what it has";
    // Header, "A", "T" with the 19 bytes of "Unknown Application" and "P" with
    // the program: no pictures.
    const std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(5u + 9 + 5 + 19 + 5 + app.ProgramKey.size(), bytes.size());
    EXPECT_EQ('A', bytes[5]);
    EXPECT_EQ("TUnknown Application", bytes.substr(14, 1) + bytes.substr(19, 19));
    EXPECT_EQ("P" + app.ProgramKey, bytes.substr(38, 1) + bytes.substr(43));

    // Read back, it shows the icon its owner gives for such applications.
    SourceApp loaded;
    EXPECT_TRUE(loaded.ReadAppFile(path, ::LoadIconA(nullptr, IDI_WINLOGO)));
    EXPECT_NE(nullptr, loaded.Icon());

    EXPECT_FALSE(app.InitFromWindow(nullptr));
    EXPECT_FALSE(app.InitFromWindow(reinterpret_cast<HWND>(0x1234)));
}

TEST(SourceAppTest, DamagedApplicationFilesAreRejected) {
    TempFolder folder;
    const std::string header("F\1\0\0\0", 5);
    const std::string atom("A\4\0\0\0\x34\x12\0\0", 9);
    struct Case {
        const char* name;
        std::string bytes;
        bool readable;
    } cases[] = {
        {"atom only", header + atom, true},
        {"atom of 2 bytes", header + std::string("A\2\0\0\0\x34\x12", 7), false},
        {"atom of 8 bytes", header + std::string("A\x08\0\0\0\x34\x12\0\0\0\0\0\0", 13), false},
        {"title cut short", header + atom + std::string("T\x20\0\0\0abc", 8), false},
        {"colour picture that is not one", header + atom + std::string("C\x05\0\0\0junk!", 10), false},
        {"mask longer than the file", header + atom + std::string("M\xff\xff\xff\xff", 5), false},
        {"not a record file", "XYZ", false},
        {"unknown field skipped", header + std::string("Q\3\0\0\0xyz", 8) + atom, true},
    };
    for (const Case& c : cases) {
        const std::string path = folder / "case.app";
        ASSERT_TRUE(WriteFileBytes(path, c.bytes));
        SourceApp app;
        EXPECT_EQ(c.readable, app.ReadAppFile(path, ::LoadIconA(nullptr, IDI_WINLOGO))) << c.name;
        if (c.readable) {
            EXPECT_EQ(0x1234u, app.ClassAtom) << c.name;
        }
    }
}

TEST(SourceAppTest, ChangesAreAttributedToTheOwnersTopWindowOrTheForeground) {
    TestWindow top("SourceAppTestTop", "Top", nullptr, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    // A child whose lowest style bit is set names its top-most ancestor.
    TestWindow child("SourceAppTestChild", "Child", nullptr, WS_CHILD | 1, top.get());
    ASSERT_TRUE(child.get());
    ASSERT_TRUE(::OpenClipboard(child.get()));
    ::EmptyClipboard();
    ::CloseClipboard();
    EXPECT_EQ(top.get(), FindSourceWindow());

    // An owner without that bit: the foreground window counts.
    TestWindow plain("SourceAppTestPlain", "Plain", nullptr, WS_POPUP);
    ASSERT_TRUE(::OpenClipboard(plain.get()));
    ::EmptyClipboard();
    ::CloseClipboard();
    ::SetForegroundWindow(top.get());
    EXPECT_EQ(::GetForegroundWindow(), FindSourceWindow());
}

}  // namespace
