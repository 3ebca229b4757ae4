// The fixture of the end-to-end tests: a private archive folder set through the
// registry, no startup shortcut and no running copy at the start, and helpers to
// start SVault.exe and the test tools.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "support/TempFolder.h"

class ScrapvaultFixture : public ::testing::Test {
protected:
    ScrapvaultFixture();
    ~ScrapvaultFixture() override;

    static std::string SvaultPath();
    // Starts SVault.exe with the arguments.
    std::unique_ptr<ChildProcess> StartSvault(const std::string& arguments = "") const;
    // Starts SVault.exe and waits until its main window handles messages.
    std::unique_ptr<ChildProcess> StartRunningCopy(HWND& mainWindow) const;
    // Starts a clipboard viewer that reports to the file; waits until it joined the chain.
    std::unique_ptr<ChildProcess> StartViewer(const std::string& report) const;
    // Starts the clipboard setter with the arguments.
    std::unique_ptr<ChildProcess> StartClipSetter(const std::string& arguments) const;

    // Lines of a viewer's report that start with the word ("draw", "chain").
    static int ReportCount(const std::string& report, const std::string& word);
    static bool WaitForReportCount(const std::string& report, const std::string& word, int count);
    // Returns when the window's thread has handled everything sent before.
    static bool WaitUntilIdle(HWND window);
    // Every file below the archive folder, as paths relative to it.
    std::vector<std::string> ArchiveFiles() const;
    std::vector<std::string> ArchiveFiles(const std::string& extension) const;
    // The files with the extension once there are at least `count` (or after 10 s).
    // A change is captured after the next viewer has heard of it, so tests wait
    // for its files; that a change was not captured is shown by a later one that was.
    std::vector<std::string> WaitForArchiveFiles(const std::string& extension, size_t count) const;
    // Whether the notification-area icon of the window exists.
    static bool HasNotificationIcon(HWND window);

    static std::string SettingsKey();
    static bool ReadSettingsDword(const char* name, DWORD& value);
    static std::string HexHandle(HWND window);

    TempFolder archive_;
    TempFolder reports_;
};
