// A window split into a left and a right pane by a bar the user drags.
#pragma once

#include <windows.h>

#include "framework/Window.h"

class Splitter : public Window {
public:
    static constexpr int kBarWidth = 4;

    // Creates the splitter as a visible child with a sunken edge.
    bool CreateSplitter(HWND parent, const RECT& rect);
    // The panes are children of the splitter; they are laid out at once.
    void SetPanes(HWND left, HWND right);
    // The left edge of the bar in client pixels, kept inside the client area.
    void SetPosition(int x);
    int Position() const { return position_; }
    bool Dragging() const { return dragging_; }

protected:
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void Layout();
    bool OnBar(int x) const { return x >= position_ && x < position_ + kBarWidth; }
    void OnSize(UINT type, int width, int height);
    LRESULT OnSetCursor(WPARAM wParam, LPARAM lParam);
    LRESULT OnLeftButtonDown(WPARAM, LPARAM lParam);
    LRESULT OnMouseMove(WPARAM, LPARAM lParam);
    LRESULT OnLeftButtonUp(WPARAM, LPARAM);
    LRESULT OnCaptureChanged(WPARAM, LPARAM);
    // The panes' notifications and commands belong to the splitter's parent.
    LRESULT ForwardToParent(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnNotify(WPARAM wParam, LPARAM lParam) { return ForwardToParent(WM_NOTIFY, wParam, lParam); }
    LRESULT OnCommand(WPARAM wParam, LPARAM lParam) { return ForwardToParent(WM_COMMAND, wParam, lParam); }

    HWND left_ = nullptr;
    HWND right_ = nullptr;
    int position_ = 0;
    int width_ = 0;
    int height_ = 0;
    bool dragging_ = false;
    // Where in the bar the drag took hold of it.
    int grip_ = 0;
};
