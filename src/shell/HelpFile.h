// The help file beside the program, opened by the Help command and the About box.
#pragma once

#include <windows.h>

#include <string>

// ProgramFolder + "svault.chm".
std::string HelpFilePath();

// Opens the help file with the shell's default verb for it. Whether the shell
// could open it is not reported: a missing help file or viewer leaves no message
// of the program's own.
void OpenHelpFile(HWND owner);
