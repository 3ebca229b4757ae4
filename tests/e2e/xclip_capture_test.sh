#!/usr/bin/env bash
# Copies with xclip, a native X11 program that Wine bridges to the Windows
# clipboard, while the real SVault.exe runs, and checks what lands in the archive.
#   xclip_capture_test.sh SVAULT_EXE FLASH_WINDOW_EXE CLIP_SETTER_EXE WINE_RUN ARCHIVE_READER PRODUCER_EXE
# Needs DISPLAY and WINEPREFIX (scripts/test provides private ones).
set -u
source "$(dirname "$0")/xclip_lib.sh"
svault=$1 flash=$2 clipset=$3 winerun=$4 reader=$5 producer=$6
work=$(mktemp -d /tmp/svault-xclip.XXXXXX)
archive="$work/archive/"
mkdir -p "$archive"

trap end_archive_work EXIT

newest() { ls -t $(find "$archive" -name "*$1" -type f) 2>/dev/null | head -n 1; }
# The window title in the capture record of an item file.
title_of() {
  local guid f
  guid=$(python3 "$reader" guid "$1")
  for f in $(find "$archive" -name '*.se'); do
    [ "$(python3 "$reader" guid "$f")" = "$guid" ] && python3 "$reader" title "$f"
  done
}



# A capture that must not happen (a second one for one copy) cannot be waited
# for. Captures run one at a time and in order, so it would land before the
# capture of any later copy: settle copies a text of its own and waits until
# that text is the newest text item. Every settle adds one text item and one
# capture record.
settles=0
settle() {
  settles=$((settles + 1))
  local text="settle $settles" before i
  before=$(count .tx)
  printf '%s' "$text" | copy
  for i in $(seq 1 100); do
    if [ "$(count .tx)" -gt "$before" ] && [ "$(python3 "$reader" text "$(newest .tx)")" = "$text" ]; then
      return 0
    fi
    sleep 0.1
  done
  echo "the settling copy '$text' was not archived within 10 s"
  return 1
}

start_or_give_up
# Warm-up copies made before the program was ready may still be on their way.
settle

# A text: one capture record, one text item with the same text.
se=$(count .se); tx=$(count .tx)
printf 'Gr\xc3\xbc\xc3\x9fe from xclip \xe2\x82\xac' | copy
wait_count .tx $((tx + 1))
text_item=$(newest .tx)
settle
check "a text gives one text item" [ "$(count .tx)" -eq $((tx + 1 + 1)) ]
check "a text gives one capture record" [ "$(count .se)" -eq $((se + 1 + 1)) ]
check "the text item holds the copied text" \
  [ "$(python3 "$reader" text "$text_item")" = "$(printf 'Gr\xc3\xbc\xc3\x9fe from xclip \xe2\x82\xac')" ]
check "the source application is recorded" [ "$(count .app)" -ge 1 ]
check "items go into today's folder" [ -d "$archive$(date +%-d_%-m_%Y)" ]

# A picture: a bitmap item with the same pixels.
convert -size 5x3 xc:'#204080' -fill '#ff0000' -draw 'point 0,0' -fill '#00ff00' -draw 'point 4,2' \
  -type TrueColor bmp3:"$work/in.bmp"
db=$(count .db)
copy -t image/bmp -i "$work/in.bmp"
wait_count .db $((db + 1))
check "a BMP gives a bitmap item" [ "$(count .db)" -ge $((db + 1)) ]
check "the bitmap item has the copied pixels" \
  [ "$(python3 "$reader" dib "$(newest .db)")" = "$(python3 "$reader" bmp "$work/in.bmp")" ]

# HTML and RTF.
ht=$(count .ht)
printf '<b>bold</b> words' | copy -t text/html
wait_count .ht $((ht + 1))
check "text/html gives an HTML item" [ "$(count .ht)" -eq $((ht + 1)) ]
check "the HTML item holds the fragment" grep -q '<b>bold</b> words' <(python3 "$reader" data "$(newest .ht)")
rt=$(count .rt)
printf '{\\rtf1\\ansi plain {\\b bold}}' | copy -t text/rtf
wait_count .rt $((rt + 1))
check "text/rtf gives an RTF item" [ "$(count .rt)" -eq $((rt + 1)) ]
check "the RTF item holds the document" \
  [ "$(python3 "$reader" data "$(newest .rt)")" = '{\rtf1\ansi plain {\b bold}}' ]

# Five copies in quick succession: five captures, not ten.
settle
se=$(count .se); tx=$(count .tx)
# 150 ms apart is the pace of the burst itself, not a wait for anything.
for i in 1 2 3 4 5; do printf 'quick %s' "$i" | copy; sleep 0.15; done
wait_count .tx $((tx + 5))
settle
check "five quick copies give five text items" [ "$(count .tx)" -eq $((tx + 5 + 1)) ]
check "five quick copies give five capture records" [ "$(count .se)" -eq $((se + 5 + 1)) ]

# After a window was shown and closed nothing is in the foreground; still archived.
"$winerun" "$flash" >/dev/null 2>&1
tx=$(count .tx)
printf 'after the window closed' | copy
wait_count .tx $((tx + 1))
check "a copy with no foreground window is archived" [ "$(count .tx)" -eq $((tx + 1)) ]
check "...with its text" [ "$(python3 "$reader" text "$(newest .tx)")" = 'after the window closed' ]

# A Windows program that offers text, RTF and HTML in one change: three items
# that name one capture record.
se=$(count .se); tx=$(count .tx); rt=$(count .rt); ht=$(count .ht)
body='<html><body><!--StartFragment--><i>three</i><!--EndFragment--></body></html>'
html=$(printf 'Version:0.9\r\nStartHTML:%010d\r\nEndHTML:%010d\r\nStartFragment:%010d\r\nEndFragment:%010d\r\n%s' \
  105 $((105 + ${#body})) $((105 + 33)) $((105 + 33 + 12)) "$body")
"$winerun" "$clipset" --hold 3000 --text 'three formats' --format 'Rich Text Format' '{\rtf1 three}' \
  --format 'HTML Format' "$html" >/dev/null 2>&1 &
pids+=($!)
wait_count .se $((se + 1)); wait_count .tx $((tx + 1)); wait_count .rt $((rt + 1)); wait_count .ht $((ht + 1))
three_tx=$(newest .tx) three_rt=$(newest .rt) three_ht=$(newest .ht)
settle
check "one change with three formats gives one capture record" [ "$(count .se)" -eq $((se + 1 + 1)) ]
check "...and one item of each format" \
  [ "$(count .tx)" -eq $((tx + 1 + 1)) -a "$(count .rt)" -eq $((rt + 1)) -a "$(count .ht)" -eq $((ht + 1)) ]
guid=$(python3 "$reader" guid "$three_tx")
check "...all naming that change" \
  [ "$guid" = "$(python3 "$reader" guid "$three_rt")" -a "$guid" = "$(python3 "$reader" guid "$three_ht")" ]
check "...and the capture record is that change" grep -q "$guid" <(for f in $(find "$archive" -name '*.se'); do python3 "$reader" guid "$f"; done)
check "the RTF is the offered document" [ "$(python3 "$reader" data "$three_rt")" = '{\rtf1 three}' ]
check "the HTML holds the offered fragment" grep -q '<i>three</i>' <(python3 "$reader" data "$three_ht")

# With the program's own window in front (shown by a second start), an X11
# program's copy names no window: it is archived as an unknown application's,
# neither dropped as the program's own nor credited to the program.
"$winerun" "$svault" >/dev/null 2>&1
tx=$(count .tx)
printf 'while the window is shown' | copy
wait_count .tx $((tx + 1))
check "a copy while the window is in front is archived" \
  [ "$(python3 "$reader" text "$(newest .tx)")" = 'while the window is shown' ]
check "...as an unknown application's" [ "$(title_of "$(newest .tx)")" = 'Unknown Application' ]
"$winerun" "$svault" >/dev/null 2>&1

# Hidden again: Wine's tray stand-in is in front, and did not make the copy.
tx=$(count .tx)
printf 'while the window is hidden' | copy
wait_count .tx $((tx + 1))
check "a copy while the window is hidden is an unknown application's" \
  [ "$(title_of "$(newest .tx)")" = 'Unknown Application' ]

# A Windows program that copies and closes its window at once (a "copy and
# close" dialog): the change is archived, as an unknown application's once the
# window has gone (as the program's while the capture still found it).
tx=$(count .tx)
"$winerun" "$producer" --close --first 4711 >/dev/null 2>&1
wait_count .tx $((tx + 1))
closed=$(newest .tx)
check "a copy whose window closed at once is archived" grep -q '^mark 4711x' <(python3 "$reader" text "$closed")
closed_title=$(title_of "$closed")
check "...as an unknown application's, not the tray stand-in's" \
  [ "$closed_title" = 'Unknown Application' -o "$closed_title" = 'svault test producer' ]

# With a Windows program's window in front, an X11 program's copy is still not its.
tx=$(count .tx)
"$winerun" "$producer" --answer --hold 6000 --first 4712 --title 'In Front' >/dev/null 2>&1 &
pids+=($!)
wait_count .tx $((tx + 1))
check "the program in front names its own copy" [ "$(title_of "$(newest .tx)")" = 'In Front' ]
printf 'from X11 with a window in front' | copy
wait_count .tx $((tx + 2))
check "an X11 copy with a Windows program in front is an unknown application's" \
  [ "$(title_of "$(newest .tx)")" = 'Unknown Application' ]

summary
