// A helper program started with its standard output piped back to the test, to
// be read line by line and killed at a chosen moment.
#pragma once

#include <string>

#include "framework/UniqueHandle.h"

class PipedChild {
public:
    // Runs the command line; Started tells whether it runs.
    explicit PipedChild(std::string commandLine);
    PipedChild(const PipedChild&) = delete;
    PipedChild& operator=(const PipedChild&) = delete;

    bool Started() const { return static_cast<bool>(process_); }
    // Reads until the output holds this many lines or the child ends.
    void ReadLines(size_t lines);
    // Ends the child at once and reads what it wrote before; a line cut short
    // by the kill is dropped.
    void Kill();
    const std::string& Output() const { return output_; }

private:
    void ReadMore();

    UniqueKernelHandle process_;
    UniqueKernelHandle reader_;
    std::string output_;
};
