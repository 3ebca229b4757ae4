// The editors of the view pane: rich edit controls (a superclass of
// "RichEdit20A") that exchange their content with one kind of item.
#pragma once

#include <windows.h>
#include <commdlg.h>
#include <richedit.h>
// The editors' search is theirs; the common dialog's FindText is never called.
#undef FindText

#include <string>

#include "base/Bytes.h"
#include "framework/UniqueHandle.h"
#include "framework/Window.h"

class ClipItem;

class ItemEditor : public Window {
public:
    // Creates the editor as a visible child filling `rect`.
    bool CreateEditor(HWND parent, const RECT& rect);

    // An item of the editor's type replaces the content (true); another type
    // gives false and none gives true, both changing nothing. False also for an
    // item whose data cannot be read: the content is then as it was.
    virtual bool Load(const ClipItem* item) = 0;
    // Puts the content into the item; false for none or another type.
    virtual bool Store(ClipItem* item) = 0;
    // The font dialog for the whole control.
    virtual void ChangeFont();
    void SetWordWrap(bool on);
    bool IsModified() const;
    void SetModified(bool modified);
    void SetReadOnly(bool readOnly);
    // Shows the text, read-only and unmodified, in place of an item.
    void ShowNotice(const std::wstring& text);

    // Selects the next match after the selection's start (downward) or before
    // it (upward); a miss leaves the caret at the start (downward) or the end.
    bool FindText(const std::wstring& text, unsigned flags);

    HFONT Font() const { return font_; }
    // The text as the control shows it, paragraphs ending in "\r".
    std::wstring ShownText() const;

protected:
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    // Replaces the whole content with the bytes in the stream format.
    bool StreamIn(const void* data, size_t size, UINT format);
    bool StreamOut(UINT format, Bytes& content);
    bool StreamInText(const std::wstring& text) {
        return StreamIn(text.data(), text.size() * sizeof(wchar_t), SF_TEXT | SF_UNICODE);
    }
    // The content as UTF-16, without a terminator.
    std::wstring StreamOutText();
    void SetFont(HFONT font, bool owned);

private:
    LRESULT OnCreate(WPARAM wParam, LPARAM lParam);
    void SetTabStops();

    // The stock GUI font at first; a font from the dialog is owned.
    HFONT font_ = nullptr;
    UniqueFont ownedFont_;
};

class TextEditor : public ItemEditor {
public:
    bool Load(const ClipItem* item) override;
    bool Store(ClipItem* item) override;
};

class RtfEditor : public ItemEditor {
public:
    bool Load(const ClipItem* item) override;
    bool Store(ClipItem* item) override;
    // The font dialog for the selection's character format.
    void ChangeFont() override;
};

// HTML is shown and edited as its source text.
class HtmlEditor : public ItemEditor {
public:
    bool Load(const ClipItem* item) override;
    bool Store(ClipItem* item) override;
};

// The font dialog's starting point for a selection's character format: what is
// not uniform over the selection is left open (no style, no script, no face).
struct FontDialogStart {
    LOGFONTA font = {};
    COLORREF color = 0;
    DWORD flags = 0;  // CF_NOSTYLESEL, CF_NOSCRIPTSEL
};
FontDialogStart FontDialogFromCharFormat(const CHARFORMAT2A& format, int logPixelsY);
// The character format the dialog's answer sets; what the dialog left open is
// not set.
CHARFORMAT2A CharFormatFromFontDialog(const CHOOSEFONTA& answer);
