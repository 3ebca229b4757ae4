// The fields of the three record file kinds, read from a file's bytes: item
// files, capture record files (".se") and application files (".app"). Only the
// framing and field widths are checked here; what the data means is the
// caller's. Works on bytes only, so it builds and is fuzzed on any system.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "base/Bytes.h"

using GuidBytes = std::array<uint8_t, 16>;

// Longest window title the program keeps, in ANSI characters.
constexpr size_t kMaxTitleChars = 519;
// A title longer than this in UTF-8 cannot fit the ANSI title kept (at most four
// bytes per character); the rest of such a field is not looked at.
constexpr size_t kMaxTitleFieldBytes = 4 * (kMaxTitleChars + 1);
// A program key ("notepad.exe|Notepad", in UTF-8) past this is cut: an
// executable's path and a class name together stay well below it.
constexpr size_t kMaxProgramKeyBytes = 2048;

struct ItemFileFields {
    std::optional<int32_t> type;
    std::optional<double> time;
    // A GUID cut short by the end of the file is taken as far as it goes.
    std::optional<GuidBytes> sourceGuid;
    // The last "B" field's data; it points into the file's bytes.
    std::optional<ByteSpan> data;
};
// False when the file is no item file: no header, a "Y" or "D" field of the
// wrong width or cut short, a time that is no number, a "B" field cut short.
bool ParseItemFile(ByteSpan file, ItemFileFields& fields);

struct CaptureFileFields {
    // Fixed fields cut short overwrite only the bytes they have, so callers set
    // the values a record starts with first.
    uint32_t classAtom = 0;
    GuidBytes captureGuid = {};
    double time = 0;
    std::optional<ByteSpan> titleUtf8;  // at most kMaxTitleFieldBytes
    // "P", after the other fields; records of earlier builds have none.
    std::optional<ByteSpan> programKeyUtf8;  // at most kMaxProgramKeyBytes
};
// False when there is no header, the title or program key is cut short, or the
// time is no number.
bool ParseCaptureFile(ByteSpan file, CaptureFileFields& fields);

struct AppFileFields {
    std::optional<uint32_t> classAtom;
    std::optional<ByteSpan> titleUtf8;
    std::optional<ByteSpan> colorPayload;
    std::optional<ByteSpan> maskPayload;
    std::optional<ByteSpan> programKeyUtf8;  // as in a capture record
};
// False when there is no header, "A" is not four bytes, or a data field is cut short.
bool ParseAppFile(ByteSpan file, AppFileFields& fields);
