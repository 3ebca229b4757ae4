#include "items/BitmapItem.h"
#include "items/ClipItem.h"
#include "items/TextItem.h"

std::unique_ptr<ClipItem> CreateItemOfType(int32_t typeCode) {
    switch (typeCode) {
    case kTextItemType:
        return std::make_unique<TextItem>();
    case kBitmapItemType:
        return std::make_unique<BitmapItem>();
    default:
        return nullptr;
    }
}
