// A program the end-to-end tests start: its exit code, its windows, and a clean
// end when the test is over (WM_CLOSE to its own window, then, if need be, force).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

class ChildProcess {
public:
    // Starts the executable with the arguments (appended after its quoted path).
    // closeClass names the window class whose windows get WM_CLOSE at cleanup.
    ChildProcess(const std::string& executable, const std::string& arguments, std::string closeClass);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Wine starts Unix programs too, but gives no process handle for them: they
    // count as started and never as running.
    bool Started() const { return started_; }
    // GetLastError of a start that failed.
    DWORD StartError() const { return startError_; }
    DWORD Id() const { return id_; }
    bool IsRunning() const;
    // The exit code, or nothing when the process still runs after the wait.
    std::optional<DWORD> WaitForExit(DWORD timeoutMs = 10000) const;
    // A top-level window of this process with the class, waiting for it to appear.
    HWND WaitForWindow(const char* className, DWORD timeoutMs = 10000) const;
    HWND FindWindow(const char* className) const;
    // Closes the windows of the close class, waits, and terminates what is left.
    void Close();

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
    std::string closeClass_;
    DWORD startError_ = 0;
    bool started_ = false;
};

// Full path of a file next to the test executable (after normalisation).
std::string BesideTestExecutable(const std::string& relativePath);

// Polls the condition (pumping this thread's messages) until it holds or the time is up.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = 10000) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (::GetTickCount() - start > timeoutMs) return false;
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
        ::Sleep(20);
    }
}
