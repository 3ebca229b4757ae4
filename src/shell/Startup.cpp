#include "shell/Startup.h"

#include <commctrl.h>
#include <objbase.h>

#include <memory>
#include <string>

#include "framework/MessageLoop.h"
#include "framework/Module.h"
#include "framework/UniqueHandle.h"
#include "shell/MainFrame.h"
#include "shell/MainWindowHandle.h"
#include "base/Paths.h"
#include "shell/Settings.h"

namespace {

constexpr char kRichEditLibrary[] = "RICHED20.DLL";

// Starts are let through one at a time, from the look for a running copy until
// the new copy's window exists: two starts close together would otherwise both
// find no window and both become running copies, archiving every change twice.
class StartGate {
public:
    StartGate() : mutex_(::CreateMutexA(nullptr, FALSE, "Local\\Scrapvault 1.0 start")) {
        if (!mutex_) return;
        // A start that hangs must not keep the next one out for good.
        const DWORD waited = ::WaitForSingleObject(mutex_.get(), kMaxWaitMs);
        held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~StartGate() { Open(); }
    StartGate(const StartGate&) = delete;
    StartGate& operator=(const StartGate&) = delete;

    void Open() {
        if (held_) ::ReleaseMutex(mutex_.get());
        held_ = false;
    }

private:
    static constexpr DWORD kMaxWaitMs = 10000;
    UniqueKernelHandle mutex_;
    bool held_ = false;
};

// The gate of this start, opened by Run once the main window exists.
StartGate* gStartGate = nullptr;

struct SwitchName {
    const char* name;
    CommandSwitch value;
};

// In the order they are compared.
constexpr SwitchName kSwitchNames[] = {
    {"UnregServer", CommandSwitch::kUnregServer},
    {"RegServer", CommandSwitch::kRegServer},
    {"Install", CommandSwitch::kInstall},
    {"Uninstall", CommandSwitch::kUninstall},
};

// How long a running copy may take to close for the uninstall switches.
constexpr UINT kCloseTimeoutMs = 10000;

// Closes the running copy; false when it did not close in time (it hangs).
bool CloseRunningCopy(HWND running) {
    DWORD processId = 0;
    ::GetWindowThreadProcessId(running, &processId);
    UniqueKernelHandle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
    const DWORD start = ::GetTickCount();
    DWORD_PTR result = 0;
    // Synchronous: the running copy's window is gone when this returns, and its
    // settings are saved right after. A copy that does not answer must not
    // hang the uninstaller that started this one.
    ::SendMessageTimeoutA(running, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, kCloseTimeoutMs, &result);
    if (::IsWindow(running)) return false;
    // An uninstaller removes the program's files next: they are free only once
    // the process has saved its settings and ended.
    const DWORD spent = ::GetTickCount() - start;
    if (process) ::WaitForSingleObject(process.get(), spent < kCloseTimeoutMs ? kCloseTimeoutMs - spent : 0);
    return true;
}

// False when a switch could not do its work (the exit code then says so).
bool ApplySwitch(CommandSwitch found) {
    switch (found) {
    case CommandSwitch::kRegServer:
        AppSettings().SyncStartupShortcut(true);
        break;
    case CommandSwitch::kInstall:
        AppSettings().SyncStartupShortcut(true);
        AppSettings().Save();
        break;
    case CommandSwitch::kUnregServer:
    case CommandSwitch::kUninstall:
        AppSettings().SyncStartupShortcut(false);
        if (HWND running = MainWindowHandle()) return CloseRunningCopy(running);
        break;
    }
    return true;
}

}  // namespace

std::vector<CommandSwitch> FindSwitches(const char* commandLine) {
    std::vector<CommandSwitch> found;
    for (const char* p = commandLine; *p; p = ::CharNextA(p)) {
        if (*p != '-' && *p != '/') continue;
        // Both delimiters are single bytes, so the candidate starts right after.
        for (const SwitchName& candidate : kSwitchNames)
            if (::lstrcmpiA(p + 1, candidate.name) == 0) found.push_back(candidate.value);
    }
    return found;
}

int ProgramMain(HINSTANCE instance, const char* commandLine) {
    const HRESULT com = ::CoInitialize(nullptr);
    StartGate gate;
    gStartGate = &gate;
    // Before anything touches the settings or the shortcut.
    SetMainWindowHandle(::FindWindowA(kMainWindowClass, nullptr));
    AppSettings().Load();
    AppModule().Init(instance);

    bool run = true;
    int exitCode = 0;
    for (CommandSwitch found : FindSwitches(commandLine)) {
        if (!ApplySwitch(found)) exitCode = 1;
        run = false;
    }

    if (run) {
        if (HWND running = MainWindowHandle()) {
            ToggleMainWindow(running);
            run = false;
        }
        // Both checks run when handing over too, as they always have.
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_COOL_CLASSES};
        if (!::InitCommonControlsEx(&controls)) {
            ::MessageBoxA(nullptr, "Scrapvault error", "Cannot init common controls ", MB_OK);
            run = false;
        }
        // The About box's link. Asked for apart: the window can do without it, so
        // a system that lacks it must not keep the program from starting.
        INITCOMMONCONTROLSEX link = {sizeof(link), ICC_LINK_CLASS};
        ::InitCommonControlsEx(&link);
        // Stays loaded for the life of the process: the text views need its class.
        if (!::LoadLibraryA(kRichEditLibrary)) {
            ::MessageBoxA(nullptr, "Scrapvault error", (std::string("Cannot load ") + kRichEditLibrary).c_str(), MB_OK);
            run = false;
        }
        if (run) exitCode = Run(commandLine, SW_SHOWDEFAULT);
    }

    gStartGate = nullptr;
    gate.Open();
    AppModule().Term();
    if (SUCCEEDED(com)) ::CoUninitialize();
    return exitCode;
}

int Run(const char*, int) {
    MessageLoop loop;
    AppModule().AddMessageLoop(&loop);
    auto frame = std::make_unique<MainFrame>();
    if (!frame->CreateMainWindow()) {
        frame.reset();
        AppModule().RemoveMessageLoop();
        return 0;
    }
    SetMainWindowHandle(frame->Handle());
    if (gStartGate) gStartGate->Open();
    // Only the copy that goes on running starts with an empty temp folder.
    AppSettings().ResetTemporaryFolder();
    frame->LoadArchive();

    const int exitCode = loop.Run();

    AppModule().RemoveMessageLoop();
    AppSettings().Save();
    DeleteFolderTree(AppSettings().TempFolder);
    frame.reset();
    SetMainWindowHandle(nullptr);
    return exitCode;
}
