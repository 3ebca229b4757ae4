// Stands in for the program the shell opens a file with: it writes its own
// command line to the file named by SVAULT_RECORDER_OUT (or ShellRecorder.txt
// beside itself) and ends. Tests register it as the handler of a file type in
// their private prefix and read back what the shell started it with.
#include <windows.h>

#include <string>

namespace {

std::string OutputPath() {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableA("SVAULT_RECORDER_OUT", path, sizeof(path));
    if (length > 0 && length < sizeof(path)) return path;
    const DWORD own = ::GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string folder(path, own);
    folder.erase(folder.find_last_of('\\') + 1);
    return folder + "ShellRecorder.txt";
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::string target = OutputPath();
    // Written under another name and renamed, so a reader never sees half a line.
    const std::string partial = target + ".partial";
    const char* commandLine = ::GetCommandLineA();
    HANDLE file = ::CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(lstrlenA(commandLine));
    const bool ok = ::WriteFile(file, commandLine, size, &written, nullptr) && written == size;
    ::CloseHandle(file);
    if (!ok || !::MoveFileExA(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ::DeleteFileA(partial.c_str());
        return 1;
    }
    return 0;
}
