// Item files built and taken apart byte by byte, for tests that check the stored
// form and feed the reader damaged files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

std::string LittleEndian32(uint32_t value);

// Header, "Y" with the type code, then a "B" field that claims `statedLength`
// bytes and holds `data` (which may be shorter or longer than claimed).
std::string ItemFileWithData(int32_t type, const std::string& data, uint32_t statedLength);
inline std::string ItemFileWithData(int32_t type, const std::string& data) {
    return ItemFileWithData(type, data, static_cast<uint32_t>(data.size()));
}

// The data of the first field with the tag, walking the fields of a record file;
// nothing when there is no such field or the framing is broken.
std::optional<std::string> FieldData(const std::string& file, char tag);

// A valid zlib stream of `chunks` MiB of zeros, cheap to make however far it
// expands (about 1 KiB a MiB).
std::string ZerosStream(uint32_t chunks);

// Highest resident memory of this process so far, in bytes.
size_t PeakResidentBytes();
