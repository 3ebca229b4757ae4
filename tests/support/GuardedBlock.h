// A block of bytes placed directly in front of a page that may not be touched,
// so that reading one byte past its end faults at once instead of going unseen.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class GuardedBlock {
public:
    // The bytes must fit in one page.
    explicit GuardedBlock(const std::string& bytes);
    ~GuardedBlock();
    GuardedBlock(const GuardedBlock&) = delete;
    GuardedBlock& operator=(const GuardedBlock&) = delete;

    bool IsValid() const { return data_ != nullptr; }
    std::string_view View() const { return {data_, size_}; }

private:
    void* region_ = nullptr;
    const char* data_ = nullptr;
    size_t size_ = 0;
};
