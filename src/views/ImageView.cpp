#include "views/ImageView.h"

#include "items/BitmapItem.h"

bool ImageView::Load(const ClipItem* item) {
    if (!item) return true;
    if (item->TypeCode() != kBitmapItemType) return false;
    const Bytes& payload = static_cast<const BitmapItem*>(item)->Payload();
    const bool loaded = image_.LoadPayload(payload.data(), payload.size());
    int width = 1, height = 1;
    if (loaded) {
        width = image_.Header().biWidth;
        height = std::abs(image_.Header().biHeight);
    }
    SetScrollOffset(0, 0, false);
    SetScrollSize(width, height, true);
    return loaded;
}

void ImageView::DoPaint(HDC dc) {
    if (!image_.Dc() || !image_.Bitmap()) return;
    const SIZE size = ContentSize();
    ::BitBlt(dc, 0, 0, size.cx, size.cy, image_.Dc(), 0, 0, SRCCOPY);
}
