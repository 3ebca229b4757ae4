#!/usr/bin/env bash
# The filter box from the keyboard alone, keys typed through the system's input
# as in keyboard_test.sh: Ctrl+E, a word typed, Down to the first match, Enter
# to keep it, the item copied back and read from X11; Esc empties the box and
# gives the keyboard back to the tree. Screenshots are kept for a person to look at.
#   filter_test.sh SVAULT_EXE TREE_DRIVER_EXE WINE_RUN SHOT_FOLDER
# Needs DISPLAY and WINEPREFIX (scripts/test provides private ones).
set -u
source "$(dirname "$0")/xclip_lib.sh"
svault=$1 driver=$2 winerun=$3 shots=$4
work=$(mktemp -d /tmp/svault-filter.XXXXXX)
archive="$work/archive/"
mkdir -p "$archive" "$shots"

trap end_archive_work EXIT

shot() { sleep 0.4; import -window root "$shots/$1.png"; }

"$winerun" reg add "$key" /v GroupBy /t REG_DWORD /d 1 /f >/dev/null
start_or_give_up
sleep 1
for text in "first copy" "the Needle in it" "third copy"; do
  before=$(count .tx)
  printf '%s' "$text" | copy
  wait_count .tx $((before + 1))
done
check "three more copies are archived" [ "$(count .tx)" -ge 4 ]

"$winerun" "$svault" >/dev/null 2>&1
sleep 1
check "a second start shows the window" shows Scrapvault

keys ctrl+e
check "Ctrl+E gives the filter box the keyboard" [ "$(focus)" = "Edit" ]
keys n e e d l e
shot filter-typed
keys down
check "Down moves to the tree" [ "$(focus)" = "SysTreeView32" ]
keys return
sleep 0.5
shot filter-chosen
keys alt+e c
sleep 0.5
check "the match chosen is copied back" clipboard_is "the Needle in it"

keys ctrl+e x y z
shot filter-no-match
keys escape
check "Esc empties the box and leaves the keyboard there" [ "$(focus)" = "Edit" ]
keys escape
check "a second Esc gives the keyboard back to the tree" [ "$(focus)" = "SysTreeView32" ]
shot filter-left

summary
