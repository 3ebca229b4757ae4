// The filter box on the rebar: what is typed there narrows the tree to the
// captures whose items hold it, from the whole archive (Ctrl+E, as in Explorer).
#include "shell/MainFrame.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "base/CodePage.h"
#include "framework/Module.h"
#include "resources/resource.h"

namespace {

constexpr int kFilterBoxWidth = 220;

std::wstring TextOf(HWND box) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(box)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(box, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace

bool MainFrame::CreateFilterBox() {
    // A wide window: what is typed in any script reaches the filter as it is.
    filterBox_ = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"Edit", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
                                   0, 0, kFilterBoxWidth, 20, Handle(),
                                   reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kFilterBoxId)),
                                   AppModule().Instance(), nullptr);
    if (!filterBox_) return false;
    HFONT font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    ::SendMessageW(filterBox_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    const std::wstring cue = ToWide(LoadResourceString(IDS_FILTER_CUE), CP_ACP);
    // Shown while the box is empty, focused or not, as Explorer's search box does.
    ::SendMessageW(filterBox_, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(cue.c_str()));
    TEXTMETRICW metrics = {};
    if (HDC dc = ::GetDC(filterBox_)) {
        HGDIOBJ old = ::SelectObject(dc, font);
        ::GetTextMetricsW(dc, &metrics);
        ::SelectObject(dc, old);
        ::ReleaseDC(filterBox_, dc);
    }
    const int height = std::max<int>(metrics.tmHeight + 2 * ::GetSystemMetrics(SM_CYEDGE) + 4, 20);
    return reBar_.AddBand(filterBox_, SIZE{kFilterBoxWidth, height}, false);
}

void MainFrame::OnFilter() {
    ::SetFocus(filterBox_);
    ::SendMessageW(filterBox_, EM_SETSEL, 0, -1);
}

void MainFrame::OnFilterBox(UINT code, HWND) {
    if (code != EN_CHANGE) return;
    const std::wstring text = TextOf(filterBox_);
    if (text.empty()) {
        // The match the user chose stays selected; else what was before.
        const ClipItem* chosen = filterChoice_ && filterChoice_ == archive_.SelectedItem() ? filterChoice_ : nullptr;
        filterChoice_ = nullptr;
        archive_.EndFilter(chosen);
    } else {
        if (!archive_.Filtering()) filterChoice_ = nullptr;
        archive_.SetFilter(text);
    }
    // The view shows what the tree selects, nothing when no match is selected.
    if (viewPane_.CurrentItem() != archive_.SelectedItem()) ShowSelectedItem();
    ShowFilterCount();
}

void MainFrame::ClearFilter() {
    // The box's change notice ends the filter.
    ::SetWindowTextW(filterBox_, L"");
}

void MainFrame::RefreshFilter() {
    if (!filterBox_ || ::GetWindowTextLengthW(filterBox_) == 0) {
        ShowFilterCount();
        return;
    }
    OnFilterBox(EN_CHANGE, filterBox_);
}

bool MainFrame::FilterKey(const MSG& message) {
    if (::GetKeyState(VK_CONTROL) < 0 || ::GetKeyState(VK_MENU) < 0) return false;
    HWND tree = archive_.Handle();
    if (message.hwnd == filterBox_) {
        switch (message.wParam) {
        case VK_ESCAPE:
            // The first clears the box; the next goes back to the tree.
            if (::GetWindowTextLengthW(filterBox_) > 0)
                ClearFilter();
            else
                ::SetFocus(tree);
            return true;
        case VK_RETURN:
        case VK_DOWN:
            if (archive_.Filtering() && archive_.SelectFirstMatch()) filterChoice_ = archive_.SelectedItem();
            ::SetFocus(tree);
            return true;
        case VK_TAB:
        case VK_F6:
            ::SetFocus(tree);
            return true;
        default:
            return false;
        }
    }
    // Among the matches, Enter takes the selected one back to the whole tree,
    // and Esc leaves the filter too.
    if (message.hwnd == tree && archive_.Filtering() && (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE)) {
        ClearFilter();
        return true;
    }
    return false;
}

void MainFrame::NoteFilterChoice(const NMHDR& header) {
    const auto& change = reinterpret_cast<const NMTREEVIEWA&>(header);
    // A selection the tree makes by itself is no choice.
    if (archive_.Filtering() && change.action != TVC_UNKNOWN) filterChoice_ = archive_.SelectedItem();
}

void MainFrame::ShowFilterCount() {
    shownFilterCount_ = archive_.FilterMatchCount();
    if (!archive_.Filtering()) {
        statusBar_.SetIdleText({});
        return;
    }
    std::string text;
    if (shownFilterCount_ == 0) {
        text = LoadResourceString(IDS_FILTER_NO_MATCH);
    } else if (shownFilterCount_ == 1) {
        text = LoadResourceString(IDS_FILTER_ONE_MATCH);
    } else if (const size_t shown = archive_.FilterShownCount(); shown < shownFilterCount_) {
        char count[160] = {};
        std::snprintf(count, sizeof(count), LoadResourceString(IDS_FILTER_NEWEST_SHOWN).c_str(),
                      static_cast<unsigned>(shownFilterCount_), static_cast<unsigned>(shown));
        text = count;
    } else {
        char count[128] = {};
        std::snprintf(count, sizeof(count), LoadResourceString(IDS_FILTER_MATCHES).c_str(),
                      static_cast<unsigned>(shownFilterCount_));
        text = count;
    }
    statusBar_.SetIdleText(text);
}
