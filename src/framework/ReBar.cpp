#include "framework/ReBar.h"

#include <commctrl.h>

#include "framework/Module.h"

bool ReBar::Create(HWND parent, UINT controlId, DWORD style) {
    bar_.reset(::CreateWindowExA(WS_EX_TOOLWINDOW, REBARCLASSNAMEA, nullptr, style, 0, 0, 0, 0, parent,
                                 reinterpret_cast<HMENU>(static_cast<UINT_PTR>(controlId)), AppModule().Instance(),
                                 nullptr));
    if (!bar_) return false;
    REBARINFO info = {};
    info.cbSize = sizeof(info);
    ::SendMessageA(bar_.get(), RB_SETBARINFO, 0, reinterpret_cast<LPARAM>(&info));
    return true;
}

bool ReBar::AddBand(HWND child, SIZE ideal, bool newRow, bool keepWhole) {
    REBARBANDINFOA band = {};
    band.cbSize = sizeof(band);
    band.fMask = RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_STYLE | RBBIM_SIZE | RBBIM_IDEALSIZE;
    band.fStyle = RBBS_CHILDEDGE | RBBS_GRIPPERALWAYS | (newRow ? RBBS_BREAK : 0);
    band.hwndChild = child;
    band.cxMinChild = keepWhole ? ideal.cx : 0;
    band.cyMinChild = ideal.cy;
    band.cx = ideal.cx;
    band.cxIdeal = ideal.cx;
    return ::SendMessageA(bar_.get(), RB_INSERTBANDA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&band)) != 0;
}

int ReBar::BandCount() const {
    return bar_ ? static_cast<int>(::SendMessageA(bar_.get(), RB_GETBANDCOUNT, 0, 0)) : 0;
}

int ReBar::Layout() {
    if (!bar_) return 0;
    // The rebar sizes itself to its parent's width on WM_SIZE.
    ::SendMessageA(bar_.get(), WM_SIZE, 0, 0);
    RECT rect = {};
    ::GetWindowRect(bar_.get(), &rect);
    return rect.bottom - rect.top;
}
