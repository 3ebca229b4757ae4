// The executable's entry: the process's own full command line, not the argument
// the system passes, so that the program's path is part of what is scanned.
#include <windows.h>

#include "shell/Startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return ProgramMain(instance, ::GetCommandLineA()); }
