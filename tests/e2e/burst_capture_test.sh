#!/usr/bin/env bash
# Quick bursts of copies with xclip while the real SVault.exe runs: changes in
# between may be passed over while a capture runs, but whatever is on the
# clipboard when a burst ends must be archived.
#   burst_capture_test.sh SVAULT_EXE WINE_RUN ARCHIVE_READER
# Needs DISPLAY and WINEPREFIX (scripts/test provides private ones).
set -u
source "$(dirname "$0")/xclip_lib.sh"
svault=$1 winerun=$2 reader=$3
work=$(mktemp -d /tmp/svault-burst.XXXXXX)
archive="$work/archive/"
mkdir -p "$archive"
svault_pid=

cleanup() {
  if [ -n "$svault_pid" ]; then
    "$winerun" "$svault" -Uninstall >/dev/null 2>&1
    wait "$svault_pid" 2>/dev/null
  fi
  end_started_processes
  "$winerun" reg delete "$key" /v ArchiveFolder /f >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT


# A picture whose bottom-left pixel tells which it is; the rest is noise that
# compresses like a screenshot.
python3 - "$work" <<'PY'
import os, struct, sys
width, height = 1920, 1080
row = ((width * 24 + 31) // 32) * 4
noise = bytes((i * 7 + (i >> 9)) & 0x3F for i in range(row * height))
for n in range(1, 46):
    bits = bytearray(noise)
    bits[0:3] = bytes((7, 255 - n, n))  # blue, green, red
    header = struct.pack("<2sIHHI", b"BM", 54 + len(bits), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(bits), 2835, 2835, 0, 0)
    with open(os.path.join(sys.argv[1], "picture-%d.bmp" % n), "wb") as f:
        f.write(header + info + bits)
PY
corner_of() { printf '%02x%02x07' "$1" $((255 - $1)); }

# The last picture of a burst is among the archived ones (20 s at most).
archived() {
  local want i
  want=$(corner_of "$1")
  for i in $(seq 1 100); do
    find "$archive" -name '*.db' -type f -print0 | xargs -0 -r python3 "$reader" corner | grep -x "$want" >/dev/null && return 0
    sleep 0.2
  done
  return 1
}

"$winerun" reg add "$key" /v ArchiveFolder /d "Z:$(printf '%s' "$archive" | tr / '\\')" /f >/dev/null
"$winerun" reg add "$key" /v Startup /t REG_DWORD /d 0 /f >/dev/null
"$winerun" reg add "$key" /v DiskSizeLimit /t REG_DWORD /d 0 /f >/dev/null
"$winerun" "$svault" >/dev/null 2>&1 &
svault_pid=$!
ready=false
for attempt in $(seq 1 30); do
  printf 'warm-up %s' "$attempt" | copy
  if wait_count .tx 1 20; then ready=true; break; fi
done
check "SVault.exe archives a first copy" $ready
$ready || exit 1

# Three bursts of 15 full-HD pictures 60 ms apart.
for burst in 0 1 2; do
  for i in $(seq 1 15); do
    copy -t image/bmp -i "$work/picture-$((burst * 15 + i)).bmp"
    sleep 0.06
  done
  check "the last picture of burst $((burst + 1)) is archived" archived $((burst * 15 + 15))
  echo "     $(count .db) pictures archived so far"
done

# 200 texts of 1 MiB 50 ms apart.
base=$(head -c 786432 /dev/urandom | base64 -w 0)
for i in $(seq 1 200); do
  printf '%s\n%s' "text $i" "$base" | copy
  sleep 0.05
done
last_text_archived() {
  local i f
  for i in $(seq 1 150); do
    for f in $(find "$archive" -name '*.tx' -newer "$work/picture-1.bmp" -type f); do
      # X11 text arrives with CRLF line ends.
      [ "$(python3 "$reader" text "$f" | head -n 1 | tr -d '\r')" = "text 200" ] && return 0
    done
    sleep 0.2
  done
  return 1
}
check "the last of 200 texts of 1 MiB is archived" last_text_archived
echo "     $(count .tx) texts archived"

summary
