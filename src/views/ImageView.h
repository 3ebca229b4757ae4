// Shows a bitmap item at its natural size, one image pixel to one screen pixel.
#pragma once

#include "items/DibImage.h"
#include "views/ScrollView.h"

class ClipItem;

class ImageView : public ScrollView {
public:
    ImageView() : image_(0) {}
    // A bitmap item replaces the picture (true when its payload made one); an
    // item of another type gives false and none gives true, both changing nothing.
    bool Load(const ClipItem* item);

protected:
    void DoPaint(HDC dc) override;

private:
    DibImage image_;
};
