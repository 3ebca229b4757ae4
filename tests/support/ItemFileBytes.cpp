#include "support/ItemFileBytes.h"

#include <windows.h>
#include <psapi.h>
#include <zlib.h>

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

// A valid zlib stream of `chunks` MiB of zeros, built from one compressed MiB
// repeated (each chunk ends in a full flush, so the chunks are alike), so it is
// cheap to make however far it expands.
std::string ZerosStream(uint32_t chunks) {
    const std::string zeros(1 << 20, '\0');
    z_stream stream{};
    deflateInit(&stream, Z_DEFAULT_COMPRESSION);
    auto run = [&](const std::string& in, int flush) {
        std::string out(64 * 1024, '\0');
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        stream.avail_in = static_cast<uInt>(in.size());
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = static_cast<uInt>(out.size());
        deflate(&stream, flush);
        out.resize(out.size() - stream.avail_out);
        return out;
    };
    const std::string first = run(zeros, Z_FULL_FLUSH);
    const std::string chunk = run(zeros, Z_FULL_FLUSH);
    std::string end = run(std::string(), Z_FINISH);
    deflateEnd(&stream);
    uLong one = adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(zeros.data()), zeros.size());
    uLong total = one;
    for (uint32_t i = 1; i < chunks; ++i) total = adler32_combine(total, one, static_cast<z_off_t>(zeros.size()));
    for (int i = 0; i < 4; ++i) end[end.size() - 4 + i] = static_cast<char>(total >> (24 - 8 * i));
    std::string stream_bytes = first;
    stream_bytes.reserve(first.size() + chunk.size() * chunks + end.size());
    for (uint32_t i = 1; i < chunks; ++i) stream_bytes += chunk;
    return stream_bytes + end;
}
