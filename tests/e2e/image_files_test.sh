#!/usr/bin/env bash
# The program's BMP and PNG files, judged by programs that no one here wrote.
# write_images (run under Wine) saves one known picture through every save
# choice; pngcheck, ImageMagick and gzip then read the files back.
#
# Usage: image_files_test.sh WRITE_IMAGES_EXE WINE_RUN
# Needs WINEPREFIX and DISPLAY as scripts/test sets them.
set -u
tool=$1
wine_run=$2

work=$(mktemp -d /tmp/svault-images.XXXXXX)
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() {
  failed=$((failed + 1))
  echo "FAIL: $*"
}
expect_eq() {  # what, wanted, got
  if [ "$2" = "$3" ]; then pass; else fail "$1: wanted '$2', got '$3'"; fi
}

# The picture: 37 x 23, the pixel in column x of row y (from the top) has the
# colour of palette entry (x / 4 + y / 3) % 15. These are those fifteen entries,
# what each becomes in black and white (the nearer of the two), and the index a
# palette file gives each (entry 10 repeats entry 1, so it is stored as 1).
# The entry of pixel (x, y) is $(((x / 4 + y / 3) % 15)).
width=37
height=23
colours=(FFFFFF FF0000 FFFF00 00FF00 00FFFF 0000FF FF00FF 000000 808080 C0C0C0 FF0000 FF7F7F A50000 A55252 7F0000)
mono=(FFFFFF 000000 FFFFFF 000000 FFFFFF 000000 FFFFFF 000000 FFFFFF FFFFFF 000000 FFFFFF 000000 000000 000000)
index=(0 1 2 3 4 5 6 7 8 9 1 11 12 13 14)
mono_index=(1 0 1 0 1 0 1 0 1 1 0 1 0 0 0)

# "x,y #RRGGBB" for every pixel, as ImageMagick's txt: format lists them.
expected_pixels() {  # mono|colour
  local x y k
  for ((y = 0; y < height; y++)); do
    for ((x = 0; x < width; x++)); do
      k=$(((x / 4 + y / 3) % 15))
      if [ "$1" = mono ]; then echo "$x,$y #${mono[$k]}"; else echo "$x,$y #${colours[$k]}"; fi
    done
  done
}
decoded_pixels() {
  convert "$1" -depth 8 txt:- | sed -n 's/^\([0-9]*,[0-9]*\):.*\(#[0-9A-Fa-f]\{6\}\).*/\1 \2/p' | tr 'a-f' 'A-F'
}

le16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
le32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }

# The IDAT data of a PNG, joined, and inflated by gzip behind a made-up gzip
# header (gzip then complains about the missing trailer, after the data).
png_pixel_bytes() {
  local f=$1 off=8 size len type
  size=$(stat -c %s "$f")
  while [ "$off" -lt "$size" ]; do
    len=$(od -An -tu1 -j "$off" -N4 "$f" | awk '{print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4}')
    type=$(dd if="$f" bs=1 skip=$((off + 4)) count=4 2>/dev/null)
    [ "$type" = IDAT ] && tail -c +$((off + 9)) "$f" | head -c "$len"
    off=$((off + 12 + len))
  done | { printf '\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03'; tail -c +3; } | gzip -dc 2>/dev/null | od -An -v -tu1
}

# --- write the files under Wine ---------------------------------------------
folder=$(winepath -w "$work" 2>/dev/null | tail -n 1)
[ -n "$folder" ] || folder="Z:${work//\//\\}"
if "$wine_run" "$tool" "$folder"; then pass; else fail "write_images exited with $?"; fi
for name in bmp1.bmp bmp4.bmp bmp8.bmp bmp24.bmp bmp32.bmp png1.png png4.png png8.png; do
  if [ -s "$work/$name" ]; then pass; else fail "$name was not written"; fi
done

expected_pixels colour >"$work/colour.txt"
expected_pixels mono >"$work/mono.txt"

# --- BMP ----------------------------------------------------------------------
for depth in 1 4 8 24 32; do
  f="$work/bmp$depth.bmp"
  [ -s "$f" ] || continue
  # ImageMagick reports depth per channel: 8 for 24 and 32 bits.
  im_depth=$depth
  [ "$depth" -gt 8 ] && im_depth=8
  expect_eq "bmp$depth identify" "37 23 $im_depth" "$(identify -format '%w %h %z' "$f" 2>&1)"
  table=0
  [ "$depth" -le 8 ] && table=$((4 << depth))
  expect_eq "bmp$depth bits per pixel" "$depth" "$(le16 "$f" 28)"
  expect_eq "bmp$depth pixel offset" "$((54 + table))" "$(le32 "$f" 10)"
  expect_eq "bmp$depth file size" "$(stat -c %s "$f")" "$(le32 "$f" 2)"
  want=colour
  [ "$depth" = 1 ] && want=mono
  if decoded_pixels "$f" | cmp -s - "$work/$want.txt"; then
    pass
  else
    fail "bmp$depth pixels differ from the picture"
    decoded_pixels "$f" | diff - "$work/$want.txt" | head -n 5
  fi
done

# --- PNG ----------------------------------------------------------------------
for depth in 1 4 8; do
  f="$work/png$depth.png"
  [ -s "$f" ] || continue
  if pngcheck -v "$f" >"$work/check.txt" 2>&1 && grep -q '^No errors detected' "$work/check.txt"; then
    pass
  else
    fail "pngcheck -v png$depth.png"
    cat "$work/check.txt"
  fi
  # A palette image and nothing else: no ancillary chunks.
  expect_eq "png$depth chunks" "IHDR PLTE IDAT IEND" \
    "$(sed -n 's/^ *chunk \([A-Za-z]*\) .*/\1/p' "$work/check.txt" | uniq | paste -sd' ')"
  expect_eq "png$depth identify" "37 23 $depth 3 $((1 << depth))" \
    "$(identify -format '%w %h %[png:IHDR.bit-depth-orig] %[png:IHDR.color-type-orig] %[png:PLTE.number_colors]' "$f" 2>&1)"

  # The palette, as pngcheck prints it.
  palette=$(pngcheck -vp "$f" | sed -n 's/^ *[0-9]*: *(.*) = (0x\(..\),0x\(..\),0x\(..\))$/\1\2\3/p' | tr 'a-f' 'A-F')
  mapfile -t entries <<<"$palette"
  expect_eq "png$depth palette size" "$((1 << depth))" "${#entries[@]}"
  if [ "$depth" = 1 ]; then
    expect_eq "png1 palette" "000000 FFFFFF" "${entries[*]:0:2}"
  else
    expect_eq "png$depth palette start" "${colours[*]}" "${entries[*]:0:15}"
  fi
  [ "$depth" = 4 ] && expect_eq "png4 last entry" "000000" "${entries[15]}"
  [ "$depth" = 8 ] && expect_eq "png8 greys" "000000 2D2D2D 5B5B5B 898989 B7B7B7 B3B3B3" "${entries[*]:250:6}"

  # The indices: unfiltered rows, top row first, pixels packed from the high bit.
  mapfile -t bytes < <(png_pixel_bytes "$f" | tr -s ' ' '\n' | sed '/^$/d')
  row_bytes=$(((width * depth + 7) / 8))
  expect_eq "png$depth inflated size" "$((height * (row_bytes + 1)))" "${#bytes[@]}"
  bad=0
  for ((y = 0; y < height && ${#bytes[@]} == height * (row_bytes + 1); y++)); do
    base=$((y * (row_bytes + 1)))
    [ "${bytes[$base]}" = 0 ] || { bad=$((bad + 1)); continue; }
    for ((x = 0; x < width; x++)); do
      bit=$((x * depth))
      byte=${bytes[$((base + 1 + bit / 8))]}
      got=$(((byte >> (8 - depth - bit % 8)) & ((1 << depth) - 1)))
      k=$(((x / 4 + y / 3) % 15))
      if [ "$depth" = 1 ]; then want_index=${mono_index[$k]}; else want_index=${index[$k]}; fi
      [ "$got" = "$want_index" ] || bad=$((bad + 1))
    done
  done
  expect_eq "png$depth indices that differ from the picture" 0 "$bad"

  want=colour
  [ "$depth" = 1 ] && want=mono
  if decoded_pixels "$f" | cmp -s - "$work/$want.txt"; then pass; else fail "png$depth pixels differ from the picture"; fi
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
