// A program known by name: its executable's file name and its window's class
// name, as "notepad.exe|Notepad". Class atoms are handed out anew in every
// session (another program may get an old one after a restart) and differ from
// machine to machine; this name stays the same on both.
#pragma once

#include <windows.h>

#include <string>

// The key of the program the window belongs to; empty when the window is gone
// or its process cannot be asked (a process of another user, one that ended).
std::string ProgramKeyOf(HWND window);
