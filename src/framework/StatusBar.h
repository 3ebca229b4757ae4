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
    // The idle text again once a prompt is done.
    void ShowReady();
    // Shown instead of the idle text while not empty (a count of what a
    // filter finds), with the state after it.
    void SetIdleText(std::string text);
    // What the bar shows while no prompt is: a short state of the program
    // (work going on in the background) in place of the idle text; empty for
    // the idle text. A prompt shown meanwhile keeps the bar until it is done.
    void ShowState(const std::string& state);
    std::string Text() const;
    // Places itself at the parent's bottom; the height it takes.
    int Layout();

private:
    void SetText(const std::string& text);

    HWND bar_ = nullptr;
    std::string ready_;
    std::string state_;
    bool prompting_ = false;
    std::string idle_;
};
