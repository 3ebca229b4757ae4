#include "support/ItemFileBytes.h"

#include <windows.h>
#include <psapi.h>

std::string LittleEndian32(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

std::string ItemFileWithData(int32_t type, const std::string& data, uint32_t statedLength) {
    std::string file("F\x01\x00\x00\x00", 5);
    file += 'Y' + LittleEndian32(4) + LittleEndian32(static_cast<uint32_t>(type));
    file += 'B' + LittleEndian32(statedLength) + data;
    return file;
}

std::optional<std::string> FieldData(const std::string& file, char tag) {
    size_t at = 5;
    while (file.size() >= at + 5) {
        const char found = file[at];
        uint32_t length = 0;
        for (int i = 3; i >= 0; --i) length = length << 8 | static_cast<uint8_t>(file[at + 1 + i]);
        at += 5;
        if (file.size() - at < length) return std::nullopt;
        if (found == tag) return file.substr(at, length);
        at += length;
    }
    return std::nullopt;
}

size_t PeakResidentBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))) return 0;
    return counters.PeakWorkingSetSize;
}
