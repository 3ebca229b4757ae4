#include "items/ClipItem.h"

#include <oleauto.h>

#include <vector>

#include "archive/RecordFile.h"

double CurrentCaptureTime() {
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    now.wMilliseconds = 0;
    double time = 0;
    ::SystemTimeToVariantTime(&now, &time);
    return time;
}

ClipItem::ClipItem(int32_t typeCode, unsigned typeNameId) : typeCode_(typeCode) {
    char name[1025] = {};
    if (typeNameId) ::LoadStringA(::GetModuleHandleA(nullptr), typeNameId, name, 1024);
    typeName_ = name;
    SetCaptureTime(CurrentCaptureTime());
}

void ClipItem::SetCaptureTime(double time) {
    captureTime_ = time;
    dateText_.clear();
    SYSTEMTIME local;
    if (!CaptureTimeToLocal(time, local)) return;
    char text[1025] = {};
    if (::GetDateFormatA(LOCALE_USER_DEFAULT, 0, &local, nullptr, text, 1024) > 0) dateText_ = text;
}

bool ReadExactly(HANDLE file, void* data, uint32_t length) {
    auto* out = static_cast<char*>(data);
    while (length > 0) {
        DWORD read = 0;
        if (!::ReadFile(file, out, length, &read, nullptr) || read == 0) return false;
        out += read;
        length -= read;
    }
    return true;
}

bool ReadFieldData(HANDLE file, uint32_t length, std::vector<uint8_t>& data) {
    data.clear();
    if (!FieldFitsInFile(file, length)) return false;
    try {
        data.resize(length);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (ReadExactly(file, data.data(), length)) return true;
    data.clear();
    return false;
}
