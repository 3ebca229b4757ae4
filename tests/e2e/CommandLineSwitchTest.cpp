// The switches at the end of the command line: install and uninstall the
// startup shortcut, with or without a running copy.
#include <windows.h>

#include <thread>

#include "ScrapvaultFixture.h"
#include "shell/MainFrame.h"
#include "shell/Settings.h"

using CommandLineSwitchTest = ScrapvaultFixture;

namespace {

bool ShortcutExists() { return ::GetFileAttributesA(Settings::StartupShortcutPath().c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

TEST_F(CommandLineSwitchTest, InstallCreatesTheShortcutAndWritesTheSettingsWithoutAWindow) {
    auto install = StartSvault("/install");
    bool windowSeen = false;
    WaitUntil([&] {
        windowSeen = windowSeen || ::FindWindowA(kMainWindowClass, nullptr) != nullptr;
        return !install->IsRunning();
    });
    EXPECT_EQ(0u, install->WaitForExit().value_or(1234));
    EXPECT_FALSE(windowSeen);
    EXPECT_TRUE(ShortcutExists());
    DWORD startup = 0, diskSizeLimit = 0;
    EXPECT_TRUE(ReadSettingsDword("Startup", startup));
    EXPECT_EQ(1u, startup);
    EXPECT_TRUE(ReadSettingsDword("DiskSizeLimit", diskSizeLimit));
    EXPECT_EQ(100u, diskSizeLimit);
}

TEST_F(CommandLineSwitchTest, SwitchFollowedByABlankIsNoSwitch) {
    // Without a running copy the program starts as usual and writes nothing yet.
    HWND window = nullptr;
    auto copy = StartSvault("/install ");
    window = copy->WaitForWindow(kMainWindowClass);
    ASSERT_NE(nullptr, window);
    WaitUntilIdle(window);
    EXPECT_FALSE(ShortcutExists());
    DWORD startup = 0;
    EXPECT_FALSE(ReadSettingsDword("Startup", startup));

    // With one it hands over; a switch followed by more text is no switch either.
    auto second = StartSvault("-Install ");
    EXPECT_EQ(0u, second->WaitForExit().value_or(1234));
    WaitUntilIdle(window);
    EXPECT_TRUE(::IsWindowVisible(window));
    auto third = StartSvault("/Install /x");
    EXPECT_EQ(0u, third->WaitForExit().value_or(1234));
    WaitUntilIdle(window);
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_FALSE(ShortcutExists());
    EXPECT_TRUE(copy->IsRunning());
}

TEST_F(CommandLineSwitchTest, UninstallDeletesTheShortcutAndClosesTheRunningCopy) {
    auto install = StartSvault("/INSTALL");
    ASSERT_EQ(0u, install->WaitForExit().value_or(1234));
    ASSERT_TRUE(ShortcutExists());

    HWND window = nullptr;
    auto copy = StartRunningCopy(window);
    ASSERT_NE(nullptr, window);
    auto uninstall = StartSvault("-Uninstall");
    EXPECT_EQ(0u, uninstall->WaitForExit().value_or(1234));
    EXPECT_EQ(0u, copy->WaitForExit().value_or(1234));
    EXPECT_FALSE(ShortcutExists());
    // The closing copy saved its own settings: the shortcut stays wanted.
    DWORD startup = 0;
    EXPECT_TRUE(ReadSettingsDword("Startup", startup));
    EXPECT_EQ(1u, startup);

    // So the next normal start creates it again.
    HWND again = nullptr;
    auto next = StartRunningCopy(again);
    ASSERT_NE(nullptr, again);
    EXPECT_TRUE(ShortcutExists());
}

TEST_F(CommandLineSwitchTest, UninstallGivesUpOnACopyThatDoesNotAnswer) {
    // A window of the program's class whose thread stops handling messages: a
    // running copy that hangs.
    HANDLE release = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HWND hung = nullptr;
    std::thread thread([&] {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = ::DefWindowProcA;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kMainWindowClass;
        ::RegisterClassA(&windowClass);
        HWND window = ::CreateWindowExA(0, kMainWindowClass, "hung", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                                        nullptr, windowClass.hInstance, nullptr);
        hung = window;
        ::WaitForSingleObject(release, INFINITE);
        ::DestroyWindow(window);
        ::UnregisterClassA(kMainWindowClass, windowClass.hInstance);
    });
    ASSERT_TRUE(WaitUntil([&] { return hung != nullptr; }));

    auto uninstall = StartSvault("-Uninstall");
    // It neither waits for ever nor claims success: an installer relies on the code.
    const std::optional<DWORD> code = uninstall->WaitForExit(30000);
    ASSERT_TRUE(code.has_value());
    EXPECT_NE(0u, *code);
    EXPECT_TRUE(::IsWindow(hung));
    ::SetEvent(release);
    thread.join();
    ::CloseHandle(release);
}
