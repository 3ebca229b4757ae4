#include "items/ClipItem.h"

#include "base/CaptureTime.h"
#include "items/ItemStore.h"

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

ClipItem::~ClipItem() {
    if (store_) store_->Forget(*this);
}

bool ClipItem::LoadData(ByteSpan data) {
    if (!ReadData(data)) return false;
    if (DataBytes() > kKeptInMemoryBytes) LeaveDataOnDisk();
    return true;
}

bool ClipItem::EnsureData() const {
    if (!dataOnDisk_) return true;
    // The data read back is a copy of the file's: logically the item is unchanged.
    return store_ && store_->ReadBack(const_cast<ClipItem&>(*this));
}

void ClipItem::LeaveDataOnDisk() {
    if (!CanLeaveDataOnDisk()) return;
    ReleaseData();
    dataOnDisk_ = true;
}

void ClipItem::PrepareChange() {
    if (store_) store_->WaitUntilStored(*this);
    dataOnDisk_ = false;
    ReleaseData();
}
