// The enabled and checked states of the commands that depend on what the user
// has selected. Each entry says where its command appears; the owner records
// the states (while idle, and when a popup opens) and they are brought into the
// menus and toolbars from here.
#pragma once

#include <windows.h>

#include <span>
#include <vector>

class ToolBar;

class UpdateUi {
public:
    enum Where : unsigned { kMenu = 1, kToolBar = 2 };
    struct Entry {
        UINT command;
        unsigned where;
    };

    explicit UpdateUi(std::span<const Entry> table);
    void AddToolBar(ToolBar* toolBar) { toolBars_.push_back(toolBar); }
    std::span<const Entry> Table() const { return table_; }

    void SetState(UINT command, bool enabled, bool checked);
    // Commands without an entry are always enabled and never checked.
    bool Enabled(UINT command) const;
    bool Checked(UINT command) const;
    // Brings the menu's items (a menu bar's popups too) in line.
    void ApplyToMenu(HMENU menu) const;
    void ApplyToToolBars() const;

private:
    struct State {
        bool enabled = true;
        bool checked = false;
    };
    int IndexOf(UINT command) const;

    std::span<const Entry> table_;
    std::vector<State> states_;
    std::vector<ToolBar*> toolBars_;
};
