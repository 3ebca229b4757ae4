#include "ChildProcess.h"

#include <vector>

namespace {

struct WindowSearch {
    DWORD process;
    const char* className;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process != search->process) return TRUE;
    char name[256] = {};
    ::GetClassNameA(window, name, sizeof(name));
    if (std::string(name) == search->className) search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> WindowsOf(DWORD process, const char* className) {
    WindowSearch search{process, className, {}};
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& executable, const std::string& arguments, std::string closeClass)
    : closeClass_(std::move(closeClass)) {
    std::string commandLine = "\"" + executable + "\"";
    if (!arguments.empty()) commandLine += " " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    // Under a loaded Wine a start now and then fails at once, the program never
    // having run: it is tried again, which a program that did run never is.
    for (int attempt = 0;; ++attempt) {
        if (::CreateProcessA(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &info))
            break;
        startError_ = ::GetLastError();
        if (attempt == 4) return;
        ::Sleep(200);
    }
    startError_ = 0;
    started_ = true;
    if (info.hThread) ::CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
}

ChildProcess::~ChildProcess() {
    Close();
    if (process_) ::CloseHandle(process_);
}

bool ChildProcess::IsRunning() const { return process_ && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

std::optional<DWORD> ChildProcess::WaitForExit(DWORD timeoutMs) const {
    if (!process_) return std::nullopt;
    const bool ended = WaitUntil([this] { return !IsRunning(); }, timeoutMs);
    if (!ended) return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    return code;
}

HWND ChildProcess::FindWindow(const char* className) const {
    const std::vector<HWND> windows = WindowsOf(id_, className);
    return windows.empty() ? nullptr : windows.front();
}

HWND ChildProcess::WaitForWindow(const char* className, DWORD timeoutMs) const {
    HWND window = nullptr;
    WaitUntil([&] { return (window = FindWindow(className)) != nullptr || !IsRunning(); }, timeoutMs);
    return window;
}

void ChildProcess::Close() {
    if (!IsRunning()) return;
    for (HWND window : WindowsOf(id_, closeClass_.c_str())) ::PostMessageA(window, WM_CLOSE, 0, 0);
    if (WaitForExit(10000)) return;
    ::TerminateProcess(process_, 99);
    ::WaitForSingleObject(process_, 5000);
}

std::string BesideTestExecutable(const std::string& relativePath) {
    char module[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, module, sizeof(module));
    std::string path = module;
    path = path.substr(0, path.find_last_of('\\') + 1) + relativePath;
    char full[MAX_PATH] = {};
    if (::GetFullPathNameA(path.c_str(), sizeof(full), full, nullptr) == 0) return path;
    return full;
}
