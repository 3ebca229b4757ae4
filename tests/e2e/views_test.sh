#!/usr/bin/env bash
# The window as a user sees it: copies made with xclip while the real SVault.exe
# runs, the window shown, each item selected in the tree (a screenshot of each
# viewer is kept for a person to look at), and items copied back from the tree
# and read from X11.
#   views_test.sh SVAULT_EXE TREE_DRIVER_EXE WINE_RUN ARCHIVE_READER SHOT_FOLDER
# Needs DISPLAY and WINEPREFIX (scripts/test provides private ones).
set -u
source "$(dirname "$0")/xclip_lib.sh"
svault=$1 driver=$2 winerun=$3 reader=$4 shots=$5
work=$(mktemp -d /tmp/svault-views.XXXXXX)
archive="$work/archive/"
mkdir -p "$archive" "$shots"

trap end_archive_work EXIT

# Captures arrive one by one from one unknown application, so grouped by date
# without a date level the tree is a list of capture nodes in capture order,
# each holding its one item: the leaf of capture N is node 2N+1.
leaf_of() { echo $((2 * $1 + 1)); }
select_node() { "$winerun" "$driver" select "$1" >/dev/null 2>&1; }
send_command() { "$winerun" "$driver" command "$1" >/dev/null 2>&1; }
shot() { sleep 0.5; import -window root -crop 960x420+0+0 "$shots/$1.png"; }

"$winerun" reg add "$key" /v GroupBy /t REG_DWORD /d 1 /f >/dev/null
start_or_give_up
sleep 1

# One copy of each kind; the capture count before each copy is its number.
text_capture=$(count .se)
printf 'Hello from xclip\nsecond line' | copy
wait_count .se $((text_capture + 1))
html_capture=$(count .se)
printf '<p>Some <b>bold</b> HTML, Gr\xc3\xbc\xc3\x9fe</p>' | copy -t text/html
wait_count .se $((html_capture + 1))
rtf_capture=$(count .se)
printf '{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\fs28 Plain and {\\b bold} RTF\\par}' | copy -t text/rtf
wait_count .se $((rtf_capture + 1))
bmp_capture=$(count .se)
convert -size 1200x300 gradient:red-blue -type TrueColor bmp3:"$work/in.bmp"
copy -t image/bmp -i "$work/in.bmp"
wait_count .db 1
check "four copies give four items" [ "$(count .tx)$(count .ht)$(count .rt)$(count .db)" = "$((text_capture + 1))111" ]

# A second start shows the window; each leaf selected shows its viewer.
"$winerun" "$svault" >/dev/null 2>&1
for kind in text html rtf bmp; do
  capture_var=${kind}_capture
  check "the $kind leaf can be selected" select_node "$(leaf_of "${!capture_var}")"
  shot "view-$kind"
done

# Copied back from the tree, read by an X11 program; no new capture comes of it.
se=$(count .se)
select_node "$(leaf_of "$text_capture")"
send_command 32789
sleep 1
check "a text copied back is read from X11" [ "$(xclip -selection clipboard -o)" = "$(printf 'Hello from xclip\nsecond line')" ]
select_node "$(leaf_of "$html_capture")"
send_command 32789
sleep 1
check "HTML copied back is read from X11" \
  grep -q '<b>bold</b> HTML, Gr' <(xclip -selection clipboard -o -t text/html)
select_node "$(leaf_of "$bmp_capture")"
send_command 32789
sleep 1
xclip -selection clipboard -o -t image/bmp >"$work/out.bmp"
check "a picture copied back has the pixels" \
  [ "$(python3 "$reader" bmp "$work/out.bmp")" = "$(python3 "$reader" bmp "$work/in.bmp")" ]
check "copying back captures nothing" [ "$(count .se)" -eq "$se" ]
shot "after-copy-back"

summary
