// The program's start: the command-line switches, handing over to a running
// copy, or becoming the running copy with its main window and message loop.
#pragma once

#include <windows.h>

#include <vector>

enum class CommandSwitch { kUnregServer, kRegServer, kInstall, kUninstall };

// The switches of the command line, in the order found. A switch is the text
// after a "-" or "/" up to the end of the line, compared without regard to case,
// so only the last text on the line can be one ("... /Install" but not
// "... /Install /x" or "... /Install ").
std::vector<CommandSwitch> FindSwitches(const char* commandLine);

// Everything from COM to the exit code; commandLine is the process's full
// command line, program path included.
int ProgramMain(HINSTANCE instance, const char* commandLine);

// Creates the hidden main window, loads the archive and runs the message loop;
// then saves the settings and removes the temp folder. The window is never shown
// by starting: show is not applied.
int Run(const char* commandLine, int show);
