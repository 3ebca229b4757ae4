#include "support/GuardedBlock.h"

#include <windows.h>

#include <cstring>

GuardedBlock::GuardedBlock(const std::string& bytes) {
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    const size_t page = system.dwPageSize;
    if (bytes.size() > page) return;
    region_ = ::VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!region_) return;
    DWORD old = 0;
    char* guard = static_cast<char*>(region_) + page;
    if (!::VirtualProtect(guard, page, PAGE_NOACCESS, &old)) return;
    char* start = guard - bytes.size();
    std::memcpy(start, bytes.data(), bytes.size());
    data_ = start;
    size_ = bytes.size();
}

GuardedBlock::~GuardedBlock() {
    if (region_) ::VirtualFree(region_, 0, MEM_RELEASE);
}
