#include "views/ScrollView.h"

#include <algorithm>
#include <cstdlib>

#include "framework/MessageMap.h"

const char kScrollViewClass[] = "SvaultScrollView";

namespace {
constexpr UINT kScrollFlags = SW_INVALIDATE | SW_ERASE | SW_SCROLLCHILDREN;

SCROLLINFO ScrollInfo(UINT mask) {
    SCROLLINFO info = {};
    info.cbSize = sizeof(info);
    info.fMask = mask;
    return info;
}

void SetBarPage(HWND window, int bar, int page, int position) {
    SCROLLINFO info = ScrollInfo(SIF_PAGE | SIF_POS);
    info.nPage = static_cast<UINT>(page < 0 ? 0 : page);
    info.nPos = position;
    ::SetScrollInfo(window, bar, &info, FALSE);
}
}  // namespace

bool ScrollView::CreateView(HWND parent, const RECT& rect) {
    WNDCLASSEXA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kScrollViewClass;
    if (!RegisterWindowClass(windowClass)) return false;
    if (!Create(kScrollViewClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, parent, nullptr,
                rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top))
        return false;
    ReadWheelLines();
    return true;
}

void ScrollView::ReadWheelLines() {
    UINT lines = 3;
    if (::SystemParametersInfoA(SPI_GETWHEELSCROLLLINES, 0, &lines, 0))
        wheelLines_ = static_cast<int>(lines);
}

void ScrollView::SetScrollOffset(int x, int y, bool redraw) {
    offset_ = {x, y};
    HWND window = Handle();
    if (!window) return;
    SCROLLINFO info = ScrollInfo(SIF_POS);
    info.nPos = x;
    ::SetScrollInfo(window, SB_HORZ, &info, redraw);
    info.nPos = y;
    ::SetScrollInfo(window, SB_VERT, &info, redraw);
    if (redraw) ::InvalidateRect(window, nullptr, TRUE);
}

void ScrollView::SetScrollSize(int width, int height, bool redraw) {
    content_ = {width, height};
    offset_ = {};
    line_ = {std::max(width / 100, 1), std::max(height / 100, 1)};
    page_ = {std::max(width / 10, 1), std::max(height / 10, 1)};
    HWND window = Handle();
    if (!window) return;
    SCROLLINFO info = ScrollInfo(SIF_RANGE | SIF_PAGE | SIF_POS);
    info.nMax = width - 1;
    info.nPage = static_cast<UINT>(std::max<LONG>(client_.cx, 0));
    ::SetScrollInfo(window, SB_HORZ, &info, redraw);
    info.nMax = height - 1;
    info.nPage = static_cast<UINT>(std::max<LONG>(client_.cy, 0));
    ::SetScrollInfo(window, SB_VERT, &info, redraw);
    if (redraw) ::InvalidateRect(window, nullptr, TRUE);
}

bool ScrollView::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    static constexpr MessageEntry<ScrollView> kMessages[] = {
        msg::Size<&ScrollView::OnSize>(),
        msg::Paint<&ScrollView::Paint>(),
        msg::PrintClient<&ScrollView::Paint>(),
        msg::Raw<&ScrollView::OnSettingChange>(WM_SETTINGCHANGE),
        msg::Raw<&ScrollView::OnHScroll>(WM_HSCROLL),
        msg::Raw<&ScrollView::OnVScroll>(WM_VSCROLL),
        msg::Raw<&ScrollView::OnMouseWheel>(WM_MOUSEWHEEL),
    };
    return DispatchMessageTable<ScrollView>(*this, kMessages, message, wParam, lParam, result) ||
           Window::ProcessMessage(message, wParam, lParam, result);
}

void ScrollView::Paint(HDC dc) {
    SavedDcState saved(dc);
    POINT origin = {};
    ::GetViewportOrgEx(dc, &origin);
    // A DC handed in by a print request may carry an origin of its own.
    ::SetViewportOrgEx(dc, origin.x - offset_.x, origin.y - offset_.y, nullptr);
    DoPaint(dc);
}

LRESULT ScrollView::OnSettingChange(WPARAM, LPARAM) {
    ReadWheelLines();
    return 0;
}

bool ScrollView::OnSize(UINT, int width, int height) {
    client_ = {width, height};
    HWND window = Handle();
    SetBarPage(window, SB_HORZ, width, offset_.x);
    SetBarPage(window, SB_VERT, height, offset_.y);
    POINT pulled = offset_;
    if (pulled.x > content_.cx - width) pulled.x = std::max<LONG>(content_.cx - width, 0);
    if (pulled.y > content_.cy - height) pulled.y = std::max<LONG>(content_.cy - height, 0);
    if (pulled.x != offset_.x || pulled.y != offset_.y) {
        ::ScrollWindowEx(window, offset_.x - pulled.x, offset_.y - pulled.y, nullptr, nullptr, nullptr, nullptr,
                         kScrollFlags);
        SetScrollOffset(pulled.x, pulled.y, false);
    }
    // Default processing sees the size too.
    return false;
}

LRESULT ScrollView::OnHScroll(WPARAM wParam, LPARAM) {
    DoScroll(SB_HORZ, LOWORD(wParam), offset_.x, content_.cx, client_.cx, page_.cx, line_.cx);
    return 0;
}

LRESULT ScrollView::OnVScroll(WPARAM wParam, LPARAM) {
    DoScroll(SB_VERT, LOWORD(wParam), offset_.y, content_.cy, client_.cy, page_.cy, line_.cy);
    return 0;
}

void ScrollView::DoScroll(int bar, int request, LONG& offset, int contentSize, int clientSize, int pageStep,
                          int lineStep) {
    const int largest = contentSize - clientSize;
    if (largest < 0) return;
    int next = offset;
    switch (request) {
    case SB_LINEUP:
    case SB_PAGEUP: {
        const int step = request == SB_LINEUP ? lineStep : pageStep;
        next = offset < step ? 0 : offset - step;
        break;
    }
    case SB_LINEDOWN:
    case SB_PAGEDOWN: {
        const int step = request == SB_LINEDOWN ? lineStep : pageStep;
        next = offset + step < largest ? offset + step : largest;
        break;
    }
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
        SCROLLINFO info = ScrollInfo(SIF_TRACKPOS);
        if (!::GetScrollInfo(Handle(), bar, &info)) return;
        next = info.nTrackPos;
        break;
    }
    case SB_TOP:
        next = 0;
        break;
    case SB_BOTTOM:
        next = largest;
        break;
    default:
        return;
    }
    const int old = offset;
    offset = next;
    if (next == old) return;
    ::SetScrollPos(Handle(), bar, next, TRUE);
    const int delta = old - next;
    if (bar == SB_HORZ)
        ::ScrollWindowEx(Handle(), delta, 0, nullptr, nullptr, nullptr, nullptr, kScrollFlags);
    else
        ::ScrollWindowEx(Handle(), 0, delta, nullptr, nullptr, nullptr, nullptr, kScrollFlags);
}

LRESULT ScrollView::OnMouseWheel(WPARAM wParam, LPARAM) {
    const int delta = GET_WHEEL_DELTA_WPARAM(wParam);
    wheelAccumulator_ += delta;
    // WHEEL_PAGESCROLL, read as a signed number, is -1.
    const bool pages = wheelLines_ < 0;
    const int count = pages ? std::abs(wheelAccumulator_) : std::abs(wheelAccumulator_) * wheelLines_;
    int request = delta < 0 ? SB_LINEDOWN : SB_LINEUP;
    if (pages) request = delta < 0 ? SB_PAGEDOWN : SB_PAGEUP;
    const bool vertical = (::GetWindowLongA(Handle(), GWL_STYLE) & WS_VSCROLL) != 0;
    for (int step = 0; step < count; step += WHEEL_DELTA) {
        if (vertical)
            DoScroll(SB_VERT, request, offset_.y, content_.cy, client_.cy, page_.cy, line_.cy);
        else
            DoScroll(SB_HORZ, request, offset_.x, content_.cx, client_.cx, page_.cx, line_.cx);
        ::UpdateWindow(Handle());
    }
    wheelAccumulator_ %= WHEEL_DELTA;
    return 0;
}
