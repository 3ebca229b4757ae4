#include "support/PipedChild.h"

#include <windows.h>

#include <algorithm>

PipedChild::PipedChild(std::string commandLine) {
    SECURITY_ATTRIBUTES inherit = {};
    inherit.nLength = sizeof(inherit);
    inherit.bInheritHandle = TRUE;
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return;
    reader_.reset(readEnd);
    UniqueKernelHandle writer(writeEnd);
    ::SetHandleInformation(reader_.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writer.get();
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &process))
        return;
    process_.reset(process.hProcess);
    ::CloseHandle(process.hThread);
    // Only the child holds the write end now: the reads end when it does.
}

void PipedChild::ReadMore() {
    char buffer[4096];
    DWORD got = 0;
    if (::ReadFile(reader_.get(), buffer, sizeof(buffer), &got, nullptr) && got)
        output_.append(buffer, got);
    else
        reader_.reset();
}

void PipedChild::ReadLines(size_t lines) {
    while (reader_ && static_cast<size_t>(std::count(output_.begin(), output_.end(), '\n')) < lines) ReadMore();
}

void PipedChild::Kill() {
    if (process_) {
        ::TerminateProcess(process_.get(), 9);
        ::WaitForSingleObject(process_.get(), 10000);
    }
    while (reader_) ReadMore();
    output_.resize(output_.rfind('\n') + 1);
}
