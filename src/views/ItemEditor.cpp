#include "views/ItemEditor.h"

#include <commdlg.h>

#include <algorithm>
#include <cstring>

#include "base/CodePage.h"
#include "framework/MessageMap.h"
#include "framework/ScopeGuards.h"
#include "items/HtmlItem.h"
#include "items/RtfItem.h"
#include "items/TextItem.h"

namespace {

constexpr char kEditorClass[] = "SvaultItemEditor";
constexpr int kTabStops = 32;

WNDPROC RichEditProcedure() {
    static WNDPROC base = [] {
        // The control lives in its own library; it stays loaded for the process.
        ::LoadLibraryA("riched20.dll");
        WNDPROC procedure = nullptr;
        return Window::RegisterSuperclass("RichEdit20A", kEditorClass, procedure) ? procedure : nullptr;
    }();
    return base;
}

struct ReadCursor {
    const uint8_t* data;
    size_t size;
    size_t position;
};

DWORD CALLBACK StreamInCallback(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* copied) {
    auto* cursor = reinterpret_cast<ReadCursor*>(cookie);
    const size_t count = std::min(static_cast<size_t>(std::max<LONG>(wanted, 0)), cursor->size - cursor->position);
    if (count) std::memcpy(buffer, cursor->data + cursor->position, count);
    cursor->position += count;
    *copied = static_cast<LONG>(count);
    return 0;
}

DWORD CALLBACK StreamOutCallback(DWORD_PTR cookie, LPBYTE buffer, LONG given, LONG* taken) {
    auto* content = reinterpret_cast<Bytes*>(cookie);
    try {
        content->insert(content->end(), buffer, buffer + std::max<LONG>(given, 0));
    } catch (const std::bad_alloc&) {
        // Stops the stream; the caller sees the error.
        return 1;
    }
    *taken = given;
    return 0;
}

}  // namespace

bool ItemEditor::CreateEditor(HWND parent, const RECT& rect) {
    WNDPROC base = RichEditProcedure();
    if (!base) return false;
    SetBaseProcedure(base);
    return Create(kEditorClass, "",
                  WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_VSCROLL | WS_HSCROLL |
                      ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_NOHIDESEL | ES_SAVESEL |
                      ES_SELECTIONBAR,
                  0, parent, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top) != nullptr;
}

bool ItemEditor::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    static constexpr MessageEntry<ItemEditor> kMessages[] = {
        msg::Raw<&ItemEditor::OnCreate>(WM_CREATE),
    };
    return DispatchMessageTable<ItemEditor>(*this, kMessages, message, wParam, lParam, result) ||
           Window::ProcessMessage(message, wParam, lParam, result);
}

LRESULT ItemEditor::OnCreate(WPARAM wParam, LPARAM lParam) {
    const LRESULT created = CallBaseProcedure(WM_CREATE, wParam, lParam);
    if (created == -1) return created;
    SetFont(static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)), false);
    SetTabStops();
    SetModified(false);
    ::SendMessageA(Handle(), EM_SETREADONLY, FALSE, 0);
    return created;
}

void ItemEditor::SetFont(HFONT font, bool owned) {
    font_ = font;
    ownedFont_.reset(owned ? font : nullptr);
    ::SendMessageA(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void ItemEditor::SetTabStops() {
    WindowDc dc(Handle());
    if (!dc) return;
    TEXTMETRICA metrics = {};
    {
        ScopedSelect select(dc.get(), font_);
        ::GetTextMetricsA(dc.get(), &metrics);
    }
    // Eight average characters, in twips.
    const int interval = ::MulDiv(metrics.tmAveCharWidth * 8, 1440, ::GetDeviceCaps(dc.get(), LOGPIXELSX));
    if (interval == -1) return;
    PARAFORMAT format = {};
    format.cbSize = sizeof(format);
    format.dwMask = PFM_TABSTOPS;
    format.cTabCount = kTabStops;
    for (int i = 0; i < kTabStops; ++i) format.rgxTabs[i] = (i + 1) * interval;
    ::SendMessageA(Handle(), EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&format));
}

bool ItemEditor::IsModified() const { return ::SendMessageA(Handle(), EM_GETMODIFY, 0, 0) != 0; }

void ItemEditor::SetModified(bool modified) { ::SendMessageA(Handle(), EM_SETMODIFY, modified, 0); }

void ItemEditor::SetReadOnly(bool readOnly) { ::SendMessageA(Handle(), EM_SETREADONLY, readOnly, 0); }

void ItemEditor::ShowNotice(const std::wstring& text) {
    StreamInText(text);
    SetModified(false);
    SetReadOnly(true);
}

void ItemEditor::SetWordWrap(bool on) {
    // Line width 0 wraps at the window's edge; 1 (a twip) never wraps.
    ::SendMessageA(Handle(), EM_SETTARGETDEVICE, 0, on ? 0 : 1);
}

bool ItemEditor::StreamIn(const void* data, size_t size, UINT format) {
    ReadCursor cursor = {static_cast<const uint8_t*>(data), data ? size : 0, 0};
    EDITSTREAM stream = {reinterpret_cast<DWORD_PTR>(&cursor), 0, StreamInCallback};
    ::SendMessageA(Handle(), EM_STREAMIN, format, reinterpret_cast<LPARAM>(&stream));
    return stream.dwError == 0;
}

bool ItemEditor::StreamOut(UINT format, Bytes& content) {
    content.clear();
    EDITSTREAM stream = {reinterpret_cast<DWORD_PTR>(&content), 0, StreamOutCallback};
    ::SendMessageA(Handle(), EM_STREAMOUT, format, reinterpret_cast<LPARAM>(&stream));
    return stream.dwError == 0;
}

std::wstring ItemEditor::StreamOutText() {
    Bytes content;
    StreamOut(SF_TEXT | SF_UNICODE, content);
    std::wstring text(content.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) std::memcpy(text.data(), content.data(), text.size() * sizeof(wchar_t));
    return text;
}

std::wstring ItemEditor::ShownText() const {
    GETTEXTLENGTHEX measure = {GTL_NUMCHARS | GTL_PRECISE, 1200};
    const LRESULT length = ::SendMessageA(Handle(), EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&measure), 0);
    if (length <= 0) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    GETTEXTEX request = {static_cast<DWORD>(text.size() * sizeof(wchar_t)), GT_DEFAULT, 1200, nullptr, nullptr};
    const LRESULT copied = ::SendMessageA(Handle(), EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request),
                                          reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(std::max<LRESULT>(copied, 0)));
    return text;
}

bool ItemEditor::FindText(const std::wstring& text, unsigned flags) {
    if (text.empty()) return false;
    HWND edit = Handle();
    CHARRANGE selection = {};
    ::SendMessageA(edit, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    const LONG length = static_cast<LONG>(::SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0));
    FINDTEXTEXW find = {};
    find.chrg.cpMin = selection.cpMin <= 0 && selection.cpMax <= 0 ? 0 : selection.cpMin + 1;
    // An upward search starts from a real position, never past the end.
    find.chrg.cpMin = std::min(find.chrg.cpMin, length);
    find.chrg.cpMax = -1;
    find.lpstrText = text.c_str();
    const LRESULT found = ::SendMessageA(edit, EM_FINDTEXTEXW, flags, reinterpret_cast<LPARAM>(&find));
    CHARRANGE next = find.chrgText;
    if (found < 0) {
        const LONG caret = (flags & FR_DOWN) ? 0 : length;
        next = {caret, caret};
    }
    ::SendMessageA(edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&next));
    return found >= 0;
}

void ItemEditor::ChangeFont() {
    LOGFONTA font = {};
    if (!::GetObjectA(font_, sizeof(font), &font)) return;
    CHOOSEFONTA dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = ::GetActiveWindow();
    dialog.lpLogFont = &font;
    dialog.Flags = CF_SCREENFONTS | CF_EFFECTS | CF_INITTOLOGFONTSTRUCT;
    if (!::ChooseFontA(&dialog)) return;
    if (HFONT chosen = ::CreateFontIndirectA(&font)) SetFont(chosen, true);
}

bool TextEditor::Load(const ClipItem* item) {
    if (!item) return true;
    if (item->TypeCode() != kTextItemType || !item->EnsureData()) return false;
    StreamInText(static_cast<const TextItem*>(item)->Text());
    SetModified(false);
    return true;
}

bool TextEditor::Store(ClipItem* item) {
    if (!item || item->TypeCode() != kTextItemType) return false;
    const std::wstring text = StreamOutText();
    SetModified(false);
    static_cast<TextItem*>(item)->SetText(text);
    return true;
}

bool RtfEditor::Load(const ClipItem* item) {
    if (!item) return true;
    if (item->TypeCode() != kRtfItemType) return false;
    Bytes content;
    if (!static_cast<const RtfItem*>(item)->GetContent(content)) return false;
    StreamIn(content.data(), content.size(), SF_RTF);
    SetModified(false);
    return true;
}

bool RtfEditor::Store(ClipItem* item) {
    if (!item || item->TypeCode() != kRtfItemType) return false;
    Bytes content;
    StreamOut(SF_RTF, content);
    SetModified(false);
    static_cast<RtfItem*>(item)->SetRtf(content.data(), content.size());
    return true;
}

bool HtmlEditor::Load(const ClipItem* item) {
    if (!item) return true;
    if (item->TypeCode() != kHtmlItemType) return false;
    Bytes content;
    if (!static_cast<const HtmlItem*>(item)->GetContent(content)) return false;
    std::wstring text = ToWide(std::string_view(reinterpret_cast<const char*>(content.data()), content.size()), CP_UTF8);
    // Measured up to its terminator, as the document was on the clipboard.
    text.resize(std::wcslen(text.c_str()));
    StreamInText(text);
    SetModified(false);
    return true;
}

bool HtmlEditor::Store(ClipItem* item) {
    if (!item || item->TypeCode() != kHtmlItemType) return false;
    const std::wstring text = StreamOutText();
    SetModified(false);
    static_cast<HtmlItem*>(item)->SetHtmlText(text);
    return true;
}

FontDialogStart FontDialogFromCharFormat(const CHARFORMAT2A& format, int logPixelsY) {
    FontDialogStart start;
    LOGFONTA& font = start.font;
    const DWORD mask = format.dwMask;
    if (mask & CFM_SIZE) font.lfHeight = -(logPixelsY * format.yHeight / 1440);
    if ((mask & CFM_BOLD) && (mask & CFM_ITALIC)) {
        font.lfWeight = (format.dwEffects & CFE_BOLD) ? FW_BOLD : FW_NORMAL;
        font.lfItalic = (format.dwEffects & CFE_ITALIC) ? TRUE : FALSE;
    } else {
        start.flags |= CF_NOSTYLESEL;
    }
    if (format.cbSize == sizeof(CHARFORMAT2A) && (mask & CFM_WEIGHT)) font.lfWeight = format.wWeight;
    if ((mask & CFM_UNDERLINE) && (mask & CFM_STRIKEOUT) && (mask & CFM_COLOR)) {
        font.lfUnderline = (format.dwEffects & CFE_UNDERLINE) ? TRUE : FALSE;
        font.lfStrikeOut = (format.dwEffects & CFE_STRIKEOUT) ? TRUE : FALSE;
    }
    start.color = format.crTextColor;
    if (mask & CFM_CHARSET)
        font.lfCharSet = format.bCharSet;
    else
        start.flags |= CF_NOSCRIPTSEL;
    if (mask & CFM_FACE) {
        font.lfPitchAndFamily = format.bPitchAndFamily;
        lstrcpynA(font.lfFaceName, format.szFaceName, LF_FACESIZE);
    }
    return start;
}

CHARFORMAT2A CharFormatFromFontDialog(const CHOOSEFONTA& answer) {
    CHARFORMAT2A format = {};
    format.cbSize = sizeof(format);
    const LOGFONTA& font = *answer.lpLogFont;
    const DWORD flags = answer.Flags;
    if (!(flags & CF_NOSTYLESEL)) {
        format.dwMask |= CFM_BOLD | CFM_ITALIC;
        if (font.lfWeight >= FW_BOLD) format.dwEffects |= CFE_BOLD;
        if (font.lfItalic) format.dwEffects |= CFE_ITALIC;
    }
    if (!(flags & CF_NOSIZESEL)) {
        format.dwMask |= CFM_SIZE;
        // Tenths of a point to twips.
        format.yHeight = answer.iPointSize * 2;
    }
    if (!(flags & CF_NOFACESEL)) {
        format.dwMask |= CFM_FACE;
        format.bPitchAndFamily = font.lfPitchAndFamily;
        lstrcpynA(format.szFaceName, font.lfFaceName, LF_FACESIZE);
    }
    if (flags & CF_EFFECTS) {
        format.dwMask |= CFM_UNDERLINE | CFM_STRIKEOUT | CFM_COLOR;
        if (font.lfUnderline) format.dwEffects |= CFE_UNDERLINE;
        if (font.lfStrikeOut) format.dwEffects |= CFE_STRIKEOUT;
        format.crTextColor = answer.rgbColors;
    }
    if (!(flags & CF_NOSCRIPTSEL)) {
        format.dwMask |= CFM_CHARSET;
        format.bCharSet = font.lfCharSet;
    }
    format.dwMask |= CFM_OFFSET;
    format.yOffset = 0;
    return format;
}

void RtfEditor::ChangeFont() {
    CHARFORMAT2A current = {};
    current.cbSize = sizeof(current);
    ::SendMessageA(Handle(), EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&current));
    int logPixelsY = 96;
    if (WindowDc screen(nullptr); screen) logPixelsY = ::GetDeviceCaps(screen.get(), LOGPIXELSY);
    FontDialogStart start = FontDialogFromCharFormat(current, logPixelsY);
    CHOOSEFONTA dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = ::GetActiveWindow();
    dialog.lpLogFont = &start.font;
    dialog.rgbColors = start.color;
    dialog.Flags = CF_SCREENFONTS | CF_EFFECTS | CF_INITTOLOGFONTSTRUCT | start.flags;
    if (!::ChooseFontA(&dialog)) return;
    CHARFORMAT2A chosen = CharFormatFromFontDialog(dialog);
    ::SendMessageA(Handle(), EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&chosen));
    ::SendMessageA(Handle(), EM_SETCHARFORMAT, SCF_SELECTION | SCF_WORD, reinterpret_cast<LPARAM>(&chosen));
}
