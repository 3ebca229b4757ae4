// One running copy with a hidden window and a notification-area icon; later
// starts and the icon toggle its window; Exit ends it cleanly.
#include <windows.h>

#include "ScrapvaultFixture.h"
#include "resources/resource.h"
#include "shell/MainFrame.h"
#include "base/Paths.h"

using RunningCopyTest = ScrapvaultFixture;

TEST_F(RunningCopyTest, NormalStartShowsOnlyTheIconAndExitEndsCleanly) {
    HWND window = nullptr;
    auto copy = StartRunningCopy(window);
    ASSERT_NE(nullptr, window);
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_TRUE(HasNotificationIcon(window));
    char title[64] = {};
    ::GetWindowTextA(window, title, sizeof(title));
    EXPECT_STREQ("Scrapvault", title);
    const std::string tempFolder = BesideTestExecutable("..\\bin\\Temp\\");
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(tempFolder.c_str()));

    ::PostMessageA(window, WM_COMMAND, ID_APP_EXIT, 0);
    const auto exitCode = copy->WaitForExit();
    ASSERT_TRUE(exitCode.has_value());
    EXPECT_EQ(0u, *exitCode);
    EXPECT_FALSE(HasNotificationIcon(window));
    // The settings were saved on the way out and the temp folder removed.
    DWORD groupBy = 0;
    EXPECT_TRUE(ReadSettingsDword("GroupBy", groupBy));
    EXPECT_EQ(1u, groupBy);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(tempFolder.c_str()));
}

TEST_F(RunningCopyTest, SecondStartTogglesTheFirstCopysWindow) {
    HWND window = nullptr;
    auto copy = StartRunningCopy(window);
    ASSERT_NE(nullptr, window);
    ASSERT_FALSE(::IsWindowVisible(window));
    // A file the running copy gave to an external viewer survives the handing over.
    const std::string viewed = BesideTestExecutable("..\\bin\\Temp\\") + "viewed.txt";
    ASSERT_TRUE(WriteFileBytes(viewed, "open in a viewer"));

    auto second = StartSvault();
    EXPECT_EQ(0u, second->WaitForExit().value_or(1234));
    WaitUntilIdle(window);
    EXPECT_TRUE(::IsWindowVisible(window));
    EXPECT_EQ(window, ::GetForegroundWindow());
    EXPECT_EQ("open in a viewer", ReadFileBytes(viewed));

    auto third = StartSvault();
    EXPECT_EQ(0u, third->WaitForExit().value_or(1234));
    WaitUntilIdle(window);
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_TRUE(copy->IsRunning());
    EXPECT_EQ(window, ::FindWindowA(kMainWindowClass, nullptr));
}

TEST_F(RunningCopyTest, IconClicksAndTheTitleBarButtonsToggleTheWindow) {
    HWND window = nullptr;
    auto copy = StartRunningCopy(window);
    ASSERT_NE(nullptr, window);

    ::SendMessageA(window, kNotifyIconMessage, 0, WM_LBUTTONDOWN);
    EXPECT_TRUE(::IsWindowVisible(window));
    // Closing only hides: the program keeps running.
    ::SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_TRUE(copy->IsRunning());

    ::SendMessageA(window, kNotifyIconMessage, 0, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(::IsWindowVisible(window));
    ::SendMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_FALSE(::IsIconic(window));

    // Other mouse messages of the icon change nothing.
    ::SendMessageA(window, kNotifyIconMessage, 0, WM_LBUTTONUP);
    ::SendMessageA(window, kNotifyIconMessage, 0, WM_MOUSEMOVE);
    EXPECT_FALSE(::IsWindowVisible(window));

    ::SendMessageA(window, WM_COMMAND, ID_SHOW_MAIN_WINDOW, 0);
    EXPECT_TRUE(::IsWindowVisible(window));
    ::SendMessageA(window, WM_COMMAND, ID_SHOW_MAIN_WINDOW, 0);
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_TRUE(copy->IsRunning());
}

TEST_F(RunningCopyTest, TwoStartsAtOnceLeaveOneRunningCopy) {
    auto first = StartSvault();
    auto second = StartSvault();
    // One of them hands over to the other and ends.
    ASSERT_TRUE(WaitUntil([&] { return !first->IsRunning() || !second->IsRunning(); }));
    ChildProcess& ended = first->IsRunning() ? *second : *first;
    ChildProcess& running = first->IsRunning() ? *first : *second;
    EXPECT_EQ(0u, ended.WaitForExit().value_or(1234));
    HWND window = running.WaitForWindow(kMainWindowClass);
    ASSERT_NE(nullptr, window);
    // The handing-over start toggled the running copy's window.
    WaitUntilIdle(window);
    EXPECT_TRUE(::IsWindowVisible(window));
    EXPECT_TRUE(running.IsRunning());
}
