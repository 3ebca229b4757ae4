#!/usr/bin/env bash
# What the archive looks like after the worst: a disk that fills up during
# captures, and the program killed (kill -9) during a burst of large captures.
# After a restart every item file must be whole and no unfinished write left.
#   durability_test.sh SVAULT_EXE WINE_RUN ARCHIVE_READER
# Needs DISPLAY and WINEPREFIX (scripts/test provides private ones), and root
# for the small tmpfs that plays the full disk.
set -u
source "$(dirname "$0")/xclip_lib.sh"
svault=$1 winerun=$2 reader=$3
work=$(mktemp -d /tmp/svault-durability.XXXXXX)
key='HKCU\Software\Brindlework\Scrapvault\1.0\Settings'
svault_pid=

stop_svault() {
  [ -n "$svault_pid" ] || return 0
  "$winerun" "$svault" -Uninstall >/dev/null 2>&1
  wait "$svault_pid" 2>/dev/null
  svault_pid=
}

cleanup() {
  stop_svault
  end_started_processes
  "$winerun" reg delete "$key" /v ArchiveFolder /f >/dev/null 2>&1
  mountpoint -q "$work/full" && umount "$work/full"
  rm -rf "$work"
}
trap cleanup EXIT

count() { find "$1" -name "*$2" -type f | wc -l; }
wait_count() {  # wait_count FOLDER EXT WANT [TENTHS]: at most 20 s, or TENTHS of a second
  local i
  for i in $(seq 1 "${4:-200}"); do
    [ "$(count "$1" "$2")" -ge "$3" ] && return 0
    sleep 0.1
  done
  return 1
}
# Text that barely compresses: base64 of random bytes.
random_text() { head -c "$1" /dev/urandom | base64 -w 0; }

start_svault() {  # start_svault ARCHIVE_FOLDER
  "$winerun" reg add "$key" /v ArchiveFolder /d "Z:$(printf '%s' "$1" | tr / '\\')" /f >/dev/null
  "$winerun" "$svault" >/dev/null 2>&1 &
  svault_pid=$!
  local attempt
  for attempt in $(seq 1 30); do
    printf 'ready %s %s' "$attempt" "$RANDOM" | copy
    wait_count "$1" .tx $(( $(count "$1" .tx) + 1 )) 20 && return 0
  done
  return 1
}

all_complete() { find "$1" -name '*.tx' -o -name '*.se' -o -name '*.app' | xargs -r python3 "$reader" complete; }
some_did_not_fit() { [ "$(count "$1" .se)" -ge 6 ] && [ "$(count "$1" .tx)" -lt "$(count "$1" .se)" ]; }
no_partial() { [ "$(find "$1" -name '*.partial' | wc -l)" -eq 0 ]; }

"$winerun" reg add "$key" /v Startup /t REG_DWORD /d 0 /f >/dev/null
"$winerun" reg add "$key" /v DiskSizeLimit /t REG_DWORD /d 0 /f >/dev/null

# 1. A disk that fills up: the captures that no longer fit leave nothing behind.
full="$work/full/"
mkdir -p "$full"
if mount -t tmpfs -o size=6m tmpfs "$full"; then
  check "SVault.exe starts on the small disk" start_svault "$full"
  for size in 2500000 2500000 2500000 2500000; do
    before=$(count "$full" .se)
    random_text "$size" | copy
    wait_count "$full" .se $((before + 1)) 50
  done
  before=$(count "$full" .se)
  printf 'after the disk filled up' | copy
  wait_count "$full" .se $((before + 1)) 50
  # Every change left its record; the texts that did not fit left no item file.
  check "the disk filled up: some items did not fit" some_did_not_fit "$full"
  check "the program survives a full disk" kill -0 "$svault_pid"
  check "no unfinished write is left on the full disk" no_partial "$full"
  check "every file on the full disk is whole" all_complete "$full"
  stop_svault
  # Room again (the user freed some): the restart loads and archives as before.
  mount -o remount,size=16m "$full"
  check "a restart finds every file whole" start_svault "$full"
  check "and no unfinished write" no_partial "$full"
  stop_svault
else
  check "a small tmpfs can be mounted for the full disk (needs root)" false
fi

# 2. Killed during a burst of large captures.
archive="$work/archive/"
mkdir -p "$archive"
check "SVault.exe starts" start_svault "$archive"
before=$(count "$archive" .se)
# 50 ms apart is the pace of the burst itself, not a wait for anything.
for i in $(seq 1 12); do
  random_text 2000000 | copy
  sleep 0.05
done
# Killed once the burst is being archived.
wait_count "$archive" .se $((before + 1)) 50
kill -9 "$svault_pid"
echo "killed during the burst; unfinished writes left: $(find "$archive" -name "*.partial" | wc -l)"
wait "$svault_pid" 2>/dev/null
svault_pid=
check "every file written before the kill is whole" all_complete "$archive"
check "a restart after the kill archives again" start_svault "$archive"
check "the restart removed the unfinished writes" no_partial "$archive"
check "and every item file is whole" all_complete "$archive"

summary
