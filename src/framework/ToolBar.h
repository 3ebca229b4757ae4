// A toolbar made from a toolbar resource: the button order (0 for a separator)
// and the image size from the resource, the images from the bitmap of the same
// id, one image per button in order. The images also serve the menus.
#pragma once

#include <windows.h>

#include <vector>

#include "framework/UniqueHandle.h"

// The contents of a toolbar resource (type 241): its button size and its
// commands in order, 0 for each separator.
struct ToolBarLayout {
    int imageWidth = 0;
    int imageHeight = 0;
    std::vector<UINT> commands;
};

// False when the resource is missing or not a toolbar resource of version 1.
bool LoadToolBarLayout(HINSTANCE instance, UINT resourceId, ToolBarLayout& layout);

class ToolBar {
public:
    // Creates the toolbar with the given styles from resource `resourceId`.
    bool Create(HWND parent, UINT resourceId, UINT controlId, DWORD style);
    HWND Handle() const { return bar_.get(); }
    const ToolBarLayout& Layout() const { return layout_; }
    HIMAGELIST Images() const { return images_.get(); }
    // The image of a command, -1 when no button has it.
    int ImageOf(UINT command) const;
    void SetState(UINT command, bool enabled, bool checked);
    // Width and height the toolbar needs to show every button.
    SIZE IdealSize() const;
    // The images as a disabled command shows them: grey and faded.
    HIMAGELIST DisabledImages() const { return disabledImages_.get(); }

private:
    UniqueWindow bar_;
    UniqueImageList images_;
    UniqueImageList disabledImages_;
    ToolBarLayout layout_;
};
