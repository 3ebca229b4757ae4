// The frame's rebar: bands that hold the command bar and the toolbar, each
// band on a row of its own.
#pragma once

#include <windows.h>

#include "framework/UniqueHandle.h"

class ReBar {
public:
    bool Create(HWND parent, UINT controlId, DWORD style);
    HWND Handle() const { return bar_.get(); }
    // Adds `child` as a band as wide and high as `ideal`, on a new row when
    // asked; one kept whole is never made narrower than `ideal` for a later
    // band on its row.
    bool AddBand(HWND child, SIZE ideal, bool newRow, bool keepWhole = false);
    int BandCount() const;
    // Places itself at the parent's top; the height it takes.
    int Layout();

private:
    UniqueWindow bar_;
};
