// The program's module: its instance handle and the message loop of each thread.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>
#include <string>

class MessageLoop;

class Module {
public:
    Module() = default;
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    void Init(HINSTANCE instance);
    // Forgets the instance and every loop still registered.
    void Term();
    // The instance given to Init, else the executable's own.
    HINSTANCE Instance() const;

    // Registers the loop for the calling thread; false when the thread has one.
    bool AddMessageLoop(MessageLoop* loop);
    // Unregisters the calling thread's loop; false when it had none.
    bool RemoveMessageLoop();
    // The loop of the thread (the calling one by default), or null.
    MessageLoop* GetMessageLoop(DWORD threadId = ::GetCurrentThreadId()) const;

private:
    HINSTANCE instance_ = nullptr;
    mutable std::mutex mutex_;
    std::map<DWORD, MessageLoop*> loops_;
};

// The one module object of the process.
Module& AppModule();

// A string of the module's string table; empty when there is none.
std::string LoadResourceString(UINT id);
