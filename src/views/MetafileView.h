// Shows a metafile item at its natural size, taken from the picture frame.
#pragma once

#include "framework/UniqueHandle.h"
#include "views/ScrollView.h"

class ClipItem;

class MetafileView : public ScrollView {
public:
    // Every call lets go of the picture shown; a metafile item brings its own
    // copy (true), another type gives false and none gives true.
    bool Load(const ClipItem* item);
    SIZE PictureSize() const { return {width_, height_}; }

protected:
    void DoPaint(HDC dc) override;

private:
    UniqueEnhMetaFile metafile_;
    int width_ = 0;
    int height_ = 0;
};
