#include "views/MetafileView.h"

#include "framework/ScopeGuards.h"
#include "items/MetafileItem.h"

bool MetafileView::Load(const ClipItem* item) {
    metafile_.reset();
    if (!item) return true;
    if (item->TypeCode() != kMetafileItemType) return false;
    metafile_.reset(::CopyEnhMetaFileA(static_cast<const MetafileItem*>(item)->Metafile(), nullptr));
    if (!metafile_) return true;
    ENHMETAHEADER header = {};
    ::GetEnhMetaFileHeader(metafile_.get(), sizeof(header), &header);
    // The frame is in hundredths of a millimetre: the display's own scale gives
    // the picture's size in pixels, whatever device it was recorded on.
    POINT size = {header.rclFrame.right - header.rclFrame.left, header.rclFrame.top - header.rclFrame.bottom};
    if (WindowDc dc(Handle()); dc) {
        const int previous = ::SetMapMode(dc.get(), MM_HIMETRIC);
        ::LPtoDP(dc.get(), &size, 1);
        ::SetMapMode(dc.get(), previous);
        ::DPtoLP(dc.get(), &size, 1);
    }
    width_ = size.x;
    height_ = size.y;
    SetScrollOffset(0, 0, false);
    SetScrollSize(width_, height_, true);
    return true;
}

void MetafileView::DoPaint(HDC dc) {
    if (!metafile_) return;
    const RECT frame = {0, 0, width_, height_};
    ::PlayEnhMetaFile(dc, metafile_.get(), &frame);
}
