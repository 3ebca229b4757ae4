#include "base/RecordFields.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/RecordFormat.h"

namespace {

template <typename T>
T ValueOf(const RecordField& field) {
    T value{};
    CopyFixed(field, &value, sizeof(value));
    return value;
}

ByteSpan TitleOf(const RecordField& field) {
    return field.data.first(std::min(field.data.size(), kMaxTitleFieldBytes));
}

ByteSpan ProgramKeyField(const RecordField& field) {
    return field.data.first(std::min(field.data.size(), kMaxProgramKeyBytes));
}

}  // namespace

// Every reader treats a field the same way: fields it does not know are stepped
// over (one cut short ends the fields, as the walker does for any), fixed-width
// fields never store more than their width, and data fields must be whole.
bool ParseItemFile(ByteSpan file, ItemFileFields& fields) {
    if (!HasRecordHeader(file)) return false;
    FieldWalker walker(file);
    RecordField field;
    while (walker.Next(field)) {
        switch (field.tag) {
        case 'D': {
            if (!IsExactly(field, sizeof(double))) return false;
            const double time = ValueOf<double>(field);
            // NaN or infinity is no time; items are sorted and trimmed by it.
            if (!std::isfinite(time)) return false;
            fields.time = time;
            break;
        }
        case 'Y':
            if (!IsExactly(field, sizeof(int32_t))) return false;
            fields.type = ValueOf<int32_t>(field);
            break;
        case 'G':
            fields.sourceGuid = ValueOf<GuidBytes>(field);
            break;
        case 'B':
            if (!field.complete) return false;
            fields.data = field.data;
            break;
        default:
            break;
        }
    }
    return true;
}

bool ParseCaptureFile(ByteSpan file, CaptureFileFields& fields) {
    if (!HasRecordHeader(file)) return false;
    FieldWalker walker(file);
    RecordField field;
    while (walker.Next(field)) {
        switch (field.tag) {
        case 'G':
            CopyFixed(field, fields.captureGuid.data(), fields.captureGuid.size());
            break;
        case 'A':
            CopyFixed(field, &fields.classAtom, sizeof(fields.classAtom));
            break;
        case 'D': {
            double time = fields.time;
            CopyFixed(field, &time, sizeof(time));
            // Not a time at all: sorting and trimming by time would go wrong.
            if (!std::isfinite(time)) return false;
            fields.time = time;
            break;
        }
        case 'T':
            if (!field.complete) return false;
            fields.titleUtf8 = TitleOf(field);
            break;
        case 'P':
            if (!field.complete) return false;
            fields.programKeyUtf8 = ProgramKeyField(field);
            break;
        default:
            break;
        }
    }
    return true;
}

bool ParseAppFile(ByteSpan file, AppFileFields& fields) {
    if (!HasRecordHeader(file)) return false;
    FieldWalker walker(file);
    RecordField field;
    while (walker.Next(field)) {
        switch (field.tag) {
        case 'A':
            if (!IsExactly(field, sizeof(uint32_t))) return false;
            fields.classAtom = ValueOf<uint32_t>(field);
            break;
        case 'T':
            if (!field.complete) return false;
            fields.titleUtf8 = TitleOf(field);
            break;
        case 'C':
            if (!field.complete) return false;
            fields.colorPayload = field.data;
            break;
        case 'M':
            if (!field.complete) return false;
            fields.maskPayload = field.data;
            break;
        case 'P':
            if (!field.complete) return false;
            fields.programKeyUtf8 = ProgramKeyField(field);
            break;
        default:
            break;
        }
    }
    return true;
}
