#include "ScrapvaultFixture.h"

#include <shellapi.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>

#include "framework/UniqueHandle.h"
#include "shell/MainFrame.h"
#include "shell/Settings.h"

namespace {

constexpr char kViewerClass[] = "SvaultTestViewer";
constexpr char kClipSetterClass[] = "SvaultTestClipSetter";

void CollectFiles(const std::string& root, const std::string& relative, std::vector<std::string>& out) {
    WIN32_FIND_DATAA found;
    UniqueFindFile search(::FindFirstFileA((root + relative + "*").c_str(), &found));
    if (!search) return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CollectFiles(root, relative + name + "\\", out);
        else
            out.push_back(relative + name);
    } while (::FindNextFileA(search.get(), &found));
}

}  // namespace

ScrapvaultFixture::ScrapvaultFixture() {
    // A copy left over by another test would answer in place of ours.
    EXPECT_EQ(nullptr, ::FindWindowA(kMainWindowClass, nullptr));
    ::RegDeleteTreeA(HKEY_CURRENT_USER, SettingsKey().c_str());
    UniqueRegKey key;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                          nullptr) == ERROR_SUCCESS) {
        const std::string& folder = archive_.Path();
        ::RegSetValueExA(key.get(), "ArchiveFolder", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                         static_cast<DWORD>(folder.size() + 1));
    }
    ::DeleteFileA(Settings::StartupShortcutPath().c_str());
}

ScrapvaultFixture::~ScrapvaultFixture() {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, SettingsKey().c_str());
    ::DeleteFileA(Settings::StartupShortcutPath().c_str());
}

std::string ScrapvaultFixture::SvaultPath() { return BesideTestExecutable("..\\bin\\SVault.exe"); }

std::unique_ptr<ChildProcess> ScrapvaultFixture::StartSvault(const std::string& arguments) const {
    return std::make_unique<ChildProcess>(SvaultPath(), arguments, kMainWindowClass);
}

std::unique_ptr<ChildProcess> ScrapvaultFixture::StartRunningCopy(HWND& mainWindow) const {
    auto process = StartSvault();
    mainWindow = process->WaitForWindow(kMainWindowClass);
    if (!mainWindow) return process;
    // The window exists from the start of its creation, and answers messages
    // while creation waits for other programs; joining the chain comes last.
    HWND window = mainWindow;
    WaitUntil([window] { return ::GetClipboardViewer() == window; });
    WaitUntilIdle(mainWindow);
    return process;
}

std::unique_ptr<ChildProcess> ScrapvaultFixture::StartViewer(const std::string& report) const {
    auto process = std::make_unique<ChildProcess>(BesideTestExecutable("svault_test_viewer.exe"),
                                                  "\"" + report + "\"", kViewerClass);
    // Joining the chain brings the viewer its first notice: until it has written
    // that, it may still be inside SetClipboardViewer.
    if (HWND window = process->WaitForWindow(kViewerClass)) {
        WaitForReportCount(report, "draw", 1);
        WaitUntilIdle(window);
    }
    return process;
}

std::unique_ptr<ChildProcess> ScrapvaultFixture::StartClipSetter(const std::string& arguments) const {
    return std::make_unique<ChildProcess>(BesideTestExecutable("svault_test_clipset.exe"), arguments,
                                          kClipSetterClass);
}

int ScrapvaultFixture::ReportCount(const std::string& report, const std::string& word) {
    std::ifstream in(report);
    int count = 0;
    for (std::string line; std::getline(in, line);)
        if (line.rfind(word + " ", 0) == 0) ++count;
    return count;
}

bool ScrapvaultFixture::WaitForReportCount(const std::string& report, const std::string& word, int count) {
    return WaitUntil([&] { return ReportCount(report, word) >= count; });
}

bool ScrapvaultFixture::WaitUntilIdle(HWND window) {
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK, 10000, &result) != 0;
}

std::vector<std::string> ScrapvaultFixture::WaitForArchiveFiles(const std::string& extension, size_t count) const {
    std::vector<std::string> files;
    WaitUntil([&] { return (files = ArchiveFiles(extension)).size() >= count; });
    return files;
}

std::vector<std::string> ScrapvaultFixture::ArchiveFiles() const {
    std::vector<std::string> files;
    CollectFiles(archive_.Path(), "", files);
    return files;
}

std::vector<std::string> ScrapvaultFixture::ArchiveFiles(const std::string& extension) const {
    std::vector<std::string> matching;
    for (const std::string& file : ArchiveFiles())
        if (file.size() > extension.size() && _stricmp(file.c_str() + file.size() - extension.size(), extension.c_str()) == 0)
            matching.push_back(file);
    return matching;
}

bool ScrapvaultFixture::HasNotificationIcon(HWND window) {
    // Changing the tip of an icon that does not exist fails; the tip stays as it was.
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    data.uID = 0;
    data.uFlags = NIF_TIP;
    std::snprintf(data.szTip, sizeof(data.szTip), "%s", "Scrapvault");
    return ::Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

std::string ScrapvaultFixture::SettingsKey() { return AppSettings().SettingsKeyPath(); }

bool ScrapvaultFixture::ReadSettingsDword(const char* name, DWORD& value) {
    UniqueRegKey key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey().c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return false;
    DWORD size = sizeof(value);
    return ::RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
           ERROR_SUCCESS;
}

std::string ScrapvaultFixture::HexHandle(HWND window) {
    std::ostringstream text;
    text << std::hex << reinterpret_cast<uintptr_t>(window);
    return text.str();
}
