#include "items/ClipItem.h"

#include "base/CaptureTime.h"

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
