#!/usr/bin/env bash
# The program used from the keyboard alone, keys typed as a person types them
# (through the system's input, so accelerators, Alt, F10 and the mnemonics take
# the same way as at a real keyboard): the window opened by a second start, the
# tree walked, an item copied back and read from X11, one deleted, Options and
# Find opened and closed. Screenshots are kept for a person to look at.
#   keyboard_test.sh SVAULT_EXE TREE_DRIVER_EXE WINE_RUN SHOT_FOLDER
# Needs DISPLAY and WINEPREFIX (scripts/test provides private ones).
set -u
source "$(dirname "$0")/xclip_lib.sh"
svault=$1 driver=$2 winerun=$3 shots=$4
work=$(mktemp -d /tmp/svault-keys.XXXXXX)
archive="$work/archive/"
mkdir -p "$archive" "$shots"

trap end_archive_work EXIT

shot() { sleep 0.4; import -window root -crop 960x560+0+0 "$shots/$1.png"; }

"$winerun" reg add "$key" /v GroupBy /t REG_DWORD /d 1 /f >/dev/null
start_or_give_up
sleep 1
for text in "first copy" "second copy" "third copy"; do
  before=$(count .tx)
  printf '%s' "$text" | copy
  wait_count .tx $((before + 1))
done
items=$(count .tx)
check "three more copies are archived" [ "$items" -ge 4 ]

# The hot key of the startup shortcut is the shell's and cannot be pressed
# here; it starts the program a second time, which is what is done instead.
"$winerun" "$svault" >/dev/null 2>&1
sleep 1
check "a second start shows the window" shows Scrapvault
check "the tree has the keyboard" [ "$(focus)" = "SysTreeView32" ]
# The tree selects its first node by itself: Copy and Delete are lit at once.
shot keyboard-first-selection

# Captures are listed oldest first: Home is the warm-up copy, Down the first
# copy, Right opens it and Down reaches its item.
keys home down right down
shot keyboard-tree
# F6 and Tab go to the view and back, as in Explorer.
keys f6
check "F6 moves the keyboard to the view" [ "$(focus)" = "SvaultItemEditor" ]
shot keyboard-view
keys shift+tab
check "Shift+Tab moves it back to the tree" [ "$(focus)" = "SysTreeView32" ]
keys tab
check "Tab moves it to the view" [ "$(focus)" = "SvaultItemEditor" ]
keys f6
check "F6 moves it back to the tree" [ "$(focus)" = "SysTreeView32" ]
# Alt+E opens Edit; C is Copy's mnemonic.
keys alt+e c
sleep 0.5
check "Alt+E, C copies the item back" clipboard_is "first copy"

# F10 selects the menu bar; Right moves to Edit; Down opens it at its first
# item, Copy; Return runs it. On a capture, Copy takes all of its formats.
keys up up
keys f10 right down
shot keyboard-edit-menu
keys return
sleep 0.5
check "F10, Right, Down, Return copies the capture back" clipboard_starts "warm-up"

# Del in the tree asks first; Return answers OK.
keys delete
sleep 0.5
check "Del asks before it deletes" shows Warning
shot keyboard-delete
keys return
sleep 0.5
check "the item is deleted" [ "$(count .tx)" -eq $((items - 1)) ]

keys alt+return
sleep 0.5
check "Alt+Enter opens Options" shows Options
shot keyboard-options
keys escape
check "Escape closes Options" gone Options

keys ctrl+f
sleep 0.5
check "Ctrl+F opens Find" shows Find
shot keyboard-find
keys escape
check "Escape closes Find" gone Find
check "the tree has the keyboard again" [ "$(focus)" = "SysTreeView32" ]

# A tree search brings the main window over the dialog; Ctrl+F brings the
# dialog back, Return finds no more, and OK in the question searches again
# from the top.
keys home ctrl+f
keys s e c o n d return
keys ctrl+f
check "Ctrl+F brings the open Find dialog to the front" [ "$(focus)" = "Edit" ]
keys return
shot keyboard-find-wrap
keys return
sleep 0.5
shot keyboard-find-again
keys alt+e c
sleep 0.5
check "OK in the wrap question searches again from the top" clipboard_is "second copy"
keys ctrl+f escape
keys ctrl+f
sleep 0.5
shot keyboard-find-reopened
keys escape
check "Escape closes Find again" gone Find

summary
