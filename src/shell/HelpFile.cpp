#include "shell/HelpFile.h"

#include <shellapi.h>

#include "base/Paths.h"

std::string HelpFilePath() { return ProgramFolder() + "svault.chm"; }

void OpenHelpFile(HWND owner) {
    ::ShellExecuteA(owner, nullptr, HelpFilePath().c_str(), nullptr, nullptr, SW_SHOWDEFAULT);
}
