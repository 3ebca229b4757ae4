#include "archive/ProgramKey.h"

#include "base/Paths.h"
#include "framework/UniqueHandle.h"

std::string ProgramKeyOf(HWND window) {
    DWORD processId = 0;
    if (!::IsWindow(window) || !::GetWindowThreadProcessId(window, &processId) || !processId) return {};
    char className[256] = {};
    if (!::GetClassNameA(window, className, sizeof(className))) return {};
    // Limited rights are enough and are granted for elevated programs too.
    UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) return {};
    char image[kMaxPathChars + 1] = {};
    DWORD length = sizeof(image);
    if (!::QueryFullProcessImageNameA(process.get(), 0, image, &length) || length == 0) return {};
    std::string name(image, length);
    name.erase(0, name.find_last_of("\\/") + 1);
    // One program started as "NOTEPAD.EXE" and as "notepad.exe" is still one.
    ::CharLowerBuffA(name.data(), static_cast<DWORD>(name.size()));
    return name + "|" + className;
}
