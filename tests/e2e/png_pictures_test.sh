#!/usr/bin/env bash
# Pictures that programs offer only as PNG: X11's image/png reaches Windows
# programs as a registered "PNG" format and nothing else. Copies made with xclip
# while the real SVault.exe runs, one picture copied back from the tree and read
# from X11 as image/png, and a damaged PNG that must leave no item.
#   png_pictures_test.sh SVAULT_EXE TREE_DRIVER_EXE WINE_RUN ARCHIVE_READER
# Needs DISPLAY and WINEPREFIX (scripts/test provides private ones).
set -u
source "$(dirname "$0")/xclip_lib.sh"
svault=$1 driver=$2 winerun=$3 reader=$4
work=$(mktemp -d /tmp/svault-png.XXXXXX)
archive="$work/archive/"
mkdir -p "$archive"

trap end_archive_work EXIT

newest() { ls -t $(find "$archive" -name "*$1" -type f) 2>/dev/null | head -n 1; }
# Grouped by date without a date level, the tree lists the captures in order,
# each holding its one item: the leaf of capture N is node 2N+1.
leaf_of() { echo $((2 * $1 + 1)); }
# The pixels of a picture file as raw red, green, blue, alpha bytes, top row first.
pixels_of() { convert "$1" -depth 8 rgba:-; }
same_pixels() {  # same_pixels ITEM PICTURE_FILE
  cmp -s <(python3 "$reader" rgba "$1") <(pixels_of "$2")
}

"$winerun" reg add "$key" /v GroupBy /t REG_DWORD /d 1 /f >/dev/null
start_or_give_up
sleep 1

# A screenshot-sized picture of noise, every pixel its own, without alpha.
convert -size 1920x1080 xc:gray +noise Random -depth 8 PNG24:"$work/screen.png"
db=$(count .db) se=$(count .se)
copy -t image/png -i "$work/screen.png"
wait_count .db $((db + 1)) 300
sleep 1
check "a 1920 x 1080 PNG gives one bitmap item" [ "$(count .db)" -eq $((db + 1)) ]
check "... from one capture" [ "$(count .se)" -eq $((se + 1)) ]
check "... with the same pixels" same_pixels "$(newest .db)" "$work/screen.png"

# A picture with alpha: red fading to a transparent blue.
convert -size 64x48 gradient:'rgba(255,0,0,1)-rgba(0,0,255,0)' PNG32:"$work/alpha.png"
check "the picture with alpha is an RGBA PNG" [ "$(identify -format '%[channels]' "$work/alpha.png")" = srgba ]
alpha_capture=$(count .se)
db=$(count .db)
copy -t image/png -i "$work/alpha.png"
wait_count .db $((db + 1))
check "a PNG with alpha keeps it" same_pixels "$(newest .db)" "$work/alpha.png"

# Copied back from the tree: X11 programs read it as image/png (and as image/bmp).
se=$(count .se)
"$winerun" "$svault" >/dev/null 2>&1  # a second start shows the window
"$winerun" "$driver" select "$(leaf_of "$alpha_capture")" >/dev/null 2>&1
"$winerun" "$driver" command 32789 >/dev/null 2>&1
sleep 1
targets=$(xclip -selection clipboard -o -t TARGETS 2>/dev/null)
check "a picture copied back is offered as image/png and image/bmp" \
  [ -n "$(grep -x image/png <<<"$targets")" -a -n "$(grep -x image/bmp <<<"$targets")" ]
xclip -selection clipboard -o -t image/png >"$work/out.png" 2>/dev/null
check "pngcheck passes the PNG copied back" pngcheck -q "$work/out.png"
check "the PNG copied back has the pixels and their alpha" \
  cmp -s <(pixels_of "$work/out.png") <(pixels_of "$work/alpha.png")
check "copying back captures nothing" [ "$(count .se)" -eq "$se" ]

# A PNG cut short: the change is recorded, no item comes of it, and the program
# goes on archiving.
head -c 200000 "$work/screen.png" >"$work/cut.png"
db=$(count .db) tx=$(count .tx) se=$(count .se)
copy -t image/png -i "$work/cut.png"
wait_count .se $((se + 1))
printf 'after the damaged picture' | copy
wait_count .tx $((tx + 1))
check "a damaged PNG gives no item" [ "$(count .db)" -eq "$db" ]
check "... and the next copy is archived" \
  [ "$(python3 "$reader" text "$(newest .tx)")" = 'after the damaged picture' ]

summary
