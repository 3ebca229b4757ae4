#!/usr/bin/env bash
# The installer, round trip, as a user meets it: installed silently, the
# installed program started from where the installer put it and archiving a
# copy, then uninstalled while it runs. The program's files, its shortcuts and
# its entry among the installed programs go; the archive stays.
#   msi_test.sh BIN_DIR WINE_RUN
# Needs DISPLAY and WINEPREFIX (scripts/test provides private ones).
set -u
source "$(dirname "$0")/xclip_lib.sh"
source "$(dirname "$0")/../../scripts/lib/package.sh"
bin=$1 winerun=$2
work=$(mktemp -d /tmp/svault-msi.XXXXXX)
msi="$work/Scrapvault-1.0-x64.msi"

uninstall() { "$winerun" msiexec /x "$(winepath -w "$msi" 2>/dev/null)" /qn >/dev/null 2>&1; }
cleanup() {
  [ -f "$msi" ] && uninstall
  end_started_processes
  rm -rf "$work" "${installed:-/nonexistent}"
}
trap cleanup EXIT

# Where Windows keeps this user's programs and menus, in this prefix.
# The Unix path of a Windows folder variable. cmd or winepath now and then
# answers nothing while the prefix is busy (right after msiexec): asked again.
unix_folder() {
  local i folder
  for i in 1 2 3 4 5; do
    folder=$(winepath -u "$("$winerun" cmd /c echo "%$1%" 2>/dev/null | tr -d '\r')" 2>/dev/null)
    case $folder in /*) printf '%s\n' "$folder"; return 0 ;; esac
    sleep 1
  done
  return 1
}
listed() {  # is Scrapvault among the installed programs?
  local hive
  for hive in HKCU HKLM; do
    "$winerun" reg query "$hive\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" /s 2>/dev/null |
      tr -d '\r' | grep -q 'DisplayName.*REG_SZ.*Scrapvault$' && return 0
  done
  return 1
}

unlisted() { ! listed; }
all_exist() { local f; for f in "$@"; do [ -e "$f" ] || return 1; done; }
none_exist() { local f; for f in "$@"; do [ ! -e "$f" ] || return 1; done; }

check "the zip and the installer are built" svault_package "$bin" "$work"
check "the zip holds the program, its help, a read-me and the licence" \
  [ "$(unzip -Z1 "$work/Scrapvault-1.0-x64.zip" | sort | tr '\n' ' ')" = \
    "Scrapvault/ Scrapvault/LICENSE.txt Scrapvault/README.txt Scrapvault/SVault.exe Scrapvault/svault.chm " ]

"$winerun" msiexec /i "$(winepath -w "$msi")" /qn >/dev/null 2>&1
local_app=$(unix_folder LOCALAPPDATA)
roaming=$(unix_folder APPDATA)
installed="$local_app/Programs/Scrapvault"
menu="$roaming/Microsoft/Windows/Start Menu/Programs"
check "installed into the user's programs folder" all_exist "$installed/SVault.exe" "$installed/svault.chm"
check "with a Start-menu shortcut" [ -f "$menu/Scrapvault.lnk" ]
check "and the startup shortcut" [ -f "$menu/StartUp/Scrapvault.lnk" ]
check "listed among the installed programs" listed

# The installed program archives into the folder beside it, as set up.
archive="$installed/Archive/"
svault="$installed/SVault.exe"
"$winerun" "$svault" >/dev/null 2>&1 &
program=$!
pids+=("$program")
archived=false
for attempt in $(seq 1 30); do
  printf 'installed copy %s' "$attempt" | copy
  wait_count .tx 1 10 && { archived=true; break; }
done
check "the installed program archives a copy" $archived

uninstall
# The uninstaller closed the running copy (an ended child of this shell stays
# a zombie until it is waited for).
ended() { case $(ps -o stat= -p "$program" 2>/dev/null) in "" | Z*) true ;; *) false ;; esac; }
for _ in $(seq 1 100); do ended && break; sleep 0.1; done
check "uninstalling ends the running copy" ended
check "the program's files are gone" none_exist "$installed/SVault.exe" "$installed/svault.chm" \
  "$installed/LICENSE.txt"
check "the shortcuts are gone" none_exist "$menu/Scrapvault.lnk" "$menu/StartUp/Scrapvault.lnk"
check "no longer listed" unlisted
check "the archive is still there" [ "$(count .tx)" -ge 1 ]
rm -f "$msi"

summary
