#include "framework/Splitter.h"

#include <algorithm>

#include "framework/MessageMap.h"

namespace {
constexpr char kSplitterClass[] = "SvaultSplitter";
}  // namespace

bool Splitter::CreateSplitter(HWND parent, const RECT& rect) {
    WNDCLASSEXA windowClass = {};
    windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    // Seen only as the bar between the panes.
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kSplitterClass;
    if (!RegisterWindowClass(windowClass)) return false;
    return Create(kSplitterClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, WS_EX_CLIENTEDGE,
                  parent, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top) != nullptr;
}

void Splitter::SetPanes(HWND left, HWND right) {
    left_ = left;
    right_ = right;
    Layout();
}

void Splitter::SetPosition(int x) {
    position_ = std::max(0, std::min(x, width_ - kBarWidth));
    Layout();
}

void Splitter::Layout() {
    const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (left_) ::SetWindowPos(left_, nullptr, 0, 0, position_, height_, flags);
    if (right_)
        ::SetWindowPos(right_, nullptr, position_ + kBarWidth, 0, std::max(width_ - position_ - kBarWidth, 0),
                       height_, flags);
}

bool Splitter::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    static constexpr MessageEntry<Splitter> kMessages[] = {
        msg::Size<&Splitter::OnSize>(),
        msg::Raw<&Splitter::OnSetCursor>(WM_SETCURSOR),
        msg::Raw<&Splitter::OnLeftButtonDown>(WM_LBUTTONDOWN),
        msg::Raw<&Splitter::OnMouseMove>(WM_MOUSEMOVE),
        msg::Raw<&Splitter::OnLeftButtonUp>(WM_LBUTTONUP),
        msg::Raw<&Splitter::OnCaptureChanged>(WM_CAPTURECHANGED),
        msg::Raw<&Splitter::OnNotify>(WM_NOTIFY),
        msg::Raw<&Splitter::OnCommand>(WM_COMMAND),
    };
    return DispatchMessageTable<Splitter>(*this, kMessages, message, wParam, lParam, result) ||
           Window::ProcessMessage(message, wParam, lParam, result);
}

void Splitter::OnSize(UINT, int width, int height) {
    width_ = width;
    height_ = height;
    // A window made narrower keeps the bar inside it.
    SetPosition(position_);
}

LRESULT Splitter::OnSetCursor(WPARAM wParam, LPARAM lParam) {
    POINT point = {};
    ::GetCursorPos(&point);
    ::ScreenToClient(Handle(), &point);
    if (reinterpret_cast<HWND>(wParam) == Handle() && LOWORD(lParam) == HTCLIENT && OnBar(point.x)) {
        ::SetCursor(::LoadCursorA(nullptr, IDC_SIZEWE));
        return TRUE;
    }
    return CallBaseProcedure(WM_SETCURSOR, wParam, lParam);
}

LRESULT Splitter::OnLeftButtonDown(WPARAM, LPARAM lParam) {
    const int x = GET_X_LPARAM(lParam);
    if (!OnBar(x)) return 0;
    dragging_ = true;
    grip_ = x - position_;
    ::SetCapture(Handle());
    return 0;
}

LRESULT Splitter::OnMouseMove(WPARAM, LPARAM lParam) {
    if (dragging_) SetPosition(GET_X_LPARAM(lParam) - grip_);
    return 0;
}

LRESULT Splitter::OnLeftButtonUp(WPARAM, LPARAM) {
    if (dragging_) ::ReleaseCapture();
    return 0;
}

LRESULT Splitter::OnCaptureChanged(WPARAM, LPARAM) {
    // Released or taken away (another window, a menu, Alt+Tab): the drag is over.
    dragging_ = false;
    return 0;
}

LRESULT Splitter::ForwardToParent(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageA(::GetParent(Handle()), message, wParam, lParam);
}
