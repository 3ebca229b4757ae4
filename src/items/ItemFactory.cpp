#include "items/BitmapItem.h"
#include "items/ClipItem.h"
#include "items/HtmlItem.h"
#include "items/MetafileItem.h"
#include "items/RtfItem.h"
#include "items/TextItem.h"

std::unique_ptr<ClipItem> CreateItemOfType(int32_t typeCode) {
    switch (typeCode) {
    case kTextItemType:
        return std::make_unique<TextItem>();
    case kBitmapItemType:
        return std::make_unique<BitmapItem>();
    case kMetafileItemType:
        return std::make_unique<MetafileItem>();
    case kRtfItemType:
        return std::make_unique<RtfItem>();
    case kHtmlItemType:
        return std::make_unique<HtmlItem>();
    default:
        return nullptr;
    }
}
