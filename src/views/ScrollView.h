// A window showing content of a fixed size in pixels at the top-left corner,
// scrolled by its scroll bars and the mouse wheel; the base of the picture views.
#pragma once

#include <windows.h>

#include "framework/Window.h"

// Window class of the picture views: window-colour background, arrow cursor.
extern const char kScrollViewClass[];

class ScrollView : public Window {
public:
    // Creates the view as a visible child filling `rect`.
    bool CreateView(HWND parent, const RECT& rect);

    void SetScrollOffset(int x, int y, bool redraw);
    // Sets the content size and goes back to the top-left corner.
    void SetScrollSize(int width, int height, bool redraw);

    POINT ScrollOffset() const { return offset_; }
    SIZE ContentSize() const { return content_; }
    SIZE LineStep() const { return line_; }
    SIZE PageStep() const { return page_; }

protected:
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    // Draws the content at content coordinates; the origin is already moved.
    virtual void DoPaint(HDC dc) = 0;
    // Lines per wheel notch from the system (WHEEL_PAGESCROLL: a page per notch).
    void ReadWheelLines();

private:
    void Paint(HDC dc);
    bool OnSize(UINT type, int width, int height);
    LRESULT OnHScroll(WPARAM wParam, LPARAM);
    LRESULT OnVScroll(WPARAM wParam, LPARAM);
    LRESULT OnMouseWheel(WPARAM wParam, LPARAM);
    LRESULT OnSettingChange(WPARAM, LPARAM);
    // One request of a scroll bar along one axis.
    void DoScroll(int bar, int request, LONG& offset, int contentSize, int clientSize, int pageStep, int lineStep);

    POINT offset_ = {};
    SIZE content_ = {};
    SIZE client_ = {};
    SIZE line_ = {1, 1};
    SIZE page_ = {1, 1};
    int wheelAccumulator_ = 0;
    int wheelLines_ = 3;
};
