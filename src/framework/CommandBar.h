// The menu bar drawn as a flat toolbar: one button per menu of the frame's menu,
// each dropping its popup below it. The toolbar's images are drawn beside the
// menu items, and the keyboard works as in a menu bar: Alt or F10 alone makes
// the bar's buttons selectable with the arrow keys, Alt with a mnemonic opens
// its menu, and Left and Right move from one open menu to the next.
#pragma once

#include <windows.h>

#include <vector>

#include "framework/MessageLoop.h"
#include "framework/UniqueHandle.h"
#include "framework/Window.h"

class ToolBar;

class CommandBar : public Window, public MessageFilter {
public:
    ~CommandBar() override;

    // Takes over the frame's menu, which the frame then no longer has.
    bool CreateBar(HWND frame, UINT controlId, DWORD style);
    HMENU Menu() const { return menu_.get(); }
    // Gives each menu item whose command has a toolbar button that button's
    // image. The owner of the popups (the frame) hands the images' measuring and
    // drawing to OnMeasureMenuImage and OnDrawMenuImage.
    void SetMenuImages(const ToolBar& toolBar);
    // False for a measure or draw request that is not for a menu image.
    bool OnMeasureMenuImage(MEASUREITEMSTRUCT& measure) const;
    bool OnDrawMenuImage(const DRAWITEMSTRUCT& draw) const;
    // Width and height the bar needs to show every menu.
    SIZE IdealSize() const;

    // The frame's SC_KEYMENU: 0 (Alt or F10 alone) selects the first menu for
    // the keyboard; a character opens the menu whose mnemonic it is. False when
    // no menu has that mnemonic.
    bool OnKeyMenu(UINT character);
    // Alt, F10 and Alt with a mnemonic meant for the frame's windows, and every
    // key while the bar is selected for the keyboard, are claimed here.
    bool PreTranslateMessage(MSG& message) override;
    bool KeyboardMode() const { return keyboardMode_; }
    // The menu whose popup is open, -1 when none is.
    int OpenMenu() const { return openMenu_; }
    // Drops the menu's popup and keeps tracking until the user leaves the bar.
    void TrackMenus(int index, bool fromKeyboard);
    int MenuCount() const;
    // The menu whose mnemonic `character` is, -1 when there is none.
    int MenuOfMnemonic(UINT character) const;

protected:
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    static LRESULT CALLBACK MenuFilterHook(int code, WPARAM wParam, LPARAM lParam);
    bool OnKeyboardModeMessage(MSG& message);
    void OnKeyboardModeKey(WPARAM key);
    // A message of the open popup's loop; true eats it.
    bool OnMenuMessage(const MSG& message);
    LRESULT OnLeftButtonDown(WPARAM, LPARAM lParam);
    int ButtonAt(POINT screenPoint) const;
    void SetHot(int index);
    void EnterKeyboardMode();
    void LeaveKeyboardMode();

    HWND frame_ = nullptr;
    UniqueMenu menu_;
    const ToolBar* imageSource_ = nullptr;
    int openMenu_ = -1;
    // Set while a popup is open: the menu to open when it has closed.
    int nextMenu_ = -1;
    bool nextFromKeyboard_ = false;
    bool escaped_ = false;
    bool keyboardMode_ = false;
    // Alt went down and nothing else happened since.
    bool altAlone_ = false;
    int hot_ = -1;
    HHOOK hook_ = nullptr;
};
