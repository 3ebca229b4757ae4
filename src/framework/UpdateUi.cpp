#include "framework/UpdateUi.h"

#include "framework/ToolBar.h"

UpdateUi::UpdateUi(std::span<const Entry> table) : table_(table), states_(table.size()) {}

int UpdateUi::IndexOf(UINT command) const {
    for (size_t i = 0; i < table_.size(); ++i)
        if (table_[i].command == command) return static_cast<int>(i);
    return -1;
}

void UpdateUi::SetState(UINT command, bool enabled, bool checked) {
    const int index = IndexOf(command);
    if (index >= 0) states_[index] = {enabled, checked};
}

bool UpdateUi::Enabled(UINT command) const {
    const int index = IndexOf(command);
    return index < 0 || states_[index].enabled;
}

bool UpdateUi::Checked(UINT command) const {
    const int index = IndexOf(command);
    return index >= 0 && states_[index].checked;
}

void UpdateUi::ApplyToMenu(HMENU menu) const {
    if (!menu) return;
    for (size_t i = 0; i < table_.size(); ++i) {
        if (!(table_[i].where & kMenu)) continue;
        // By command, so the item is found in the popups of a menu bar too; a
        // command the menu lacks is left alone.
        ::EnableMenuItem(menu, table_[i].command, MF_BYCOMMAND | (states_[i].enabled ? MF_ENABLED : MF_GRAYED));
        ::CheckMenuItem(menu, table_[i].command, MF_BYCOMMAND | (states_[i].checked ? MF_CHECKED : MF_UNCHECKED));
    }
}

void UpdateUi::ApplyToToolBars() const {
    for (ToolBar* toolBar : toolBars_)
        for (size_t i = 0; i < table_.size(); ++i)
            if (table_[i].where & kToolBar) toolBar->SetState(table_[i].command, states_[i].enabled, states_[i].checked);
}
