// The frame's status bar: the idle text, or the prompt of the menu item the
// user is on (the text before "\n" of the command's string).
#pragma once

#include <windows.h>

#include <string>

class StatusBar {
public:
    // A simple status bar with a size grip at the parent's bottom, showing the
    // string `readyTextId`.
    bool Create(HWND parent, UINT id, UINT readyTextId);
    HWND Handle() const { return bar_; }
    // The prompt of the command, or nothing for an item without one.
    void ShowPrompt(UINT command);
    void ShowReady() { SetText(idle_.empty() ? ready_ : idle_); }
    // Shown instead of the ready text while not empty (a count of what a
    // filter finds), now and whenever a prompt goes.
    void SetIdleText(std::string text) {
        idle_ = std::move(text);
        ShowReady();
    }
    std::string Text() const;
    // Places itself at the parent's bottom; the height it takes.
    int Layout();

private:
    void SetText(const std::string& text);

    HWND bar_ = nullptr;
    std::string ready_;
    std::string idle_;
};
