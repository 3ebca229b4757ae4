#!/usr/bin/env bash
# Programs known by name across a restart: two programs (one executable copied
# as proga.exe and progb.exe, each with a class and a one-colour icon of its
# own) copy while the real SVault.exe runs; then SVault.exe ends, the Wine
# server of the test's prefix is restarted, and they copy again, registering
# their classes in the opposite order, each with the other's old atom (a new
# session's first free atom need not be the old one's, so the programs take
# the ones below a chosen atom with classes of their own). Each program must
# keep one application file, named by it, and each capture name its program.
#   named_programs_test.sh SVAULT_EXE NAMED_EXE WINE_RUN SHOT_FOLDER
# Needs DISPLAY and WINEPREFIX (scripts/test provides private ones).
set -u
source "$(dirname "$0")/xclip_lib.sh"
svault=$1 named=$2 winerun=$3 shots=$4
source "$(dirname "$winerun")/lib/wine-env.sh"
work=$(mktemp -d /tmp/svault-named.XXXXXX)
archive="$work/archive/"
mkdir -p "$archive" "$shots"
cp "$named" "$work/proga.exe"
cp "$named" "$work/progb.exe"
trap end_archive_work EXIT

declare -A colour=([proga]=FF00FF [progb]=00FFFF)
declare -A atom
named_pids=()

# Starts the program, waits for its copy to be archived and keeps its atom; it
# stays (its class with it) while the other registers its own.
copy_from() {  # copy_from NAME RUN [ATOM]
  local se out=$work/$1.$2.out
  se=$(count .se)
  "$winerun" "$work/$1.exe" "${colour[$1]}" 6000 ${3:-} >"$out" 2>&1 &
  pids+=($!)
  named_pids+=($!)
  if ! wait_count .se $((se + 1)) 150; then
    wait $! 2>/dev/null
    echo "     $1 ended with $? and said: $(cat "$out")"
    return 1
  fi
  for _ in $(seq 1 50); do grep -q '^atom' "$out" && break; sleep 0.1; done
  atom[$1.$2]=$(awk '/^atom/ {print $2}' "$out")
}

# Ends SVault.exe and everything of the prefix, then brings the server and the
# desktop process back as scripts/test left them.
restart_wine_server() {
  "$winerun" "$svault" /Uninstall >/dev/null 2>&1
  end_started_processes
  "$WINESERVER" -k
  "$WINESERVER" -w
  # Away from ctest's pipe, which would otherwise stay open after the test.
  "$WINESERVER" -p >/dev/null 2>&1
  "$winerun" rundll32.exe user32.dll,MessageBeep >/dev/null 2>&1
}

# start_and_warm_up for an archive that holds texts already: copies until one
# more capture is archived, so the program is in the clipboard chain.
start_again() {
  local se attempt
  se=$(count .se)
  "$winerun" "$svault" >/dev/null 2>&1 &
  pids+=($!)
  for attempt in $(seq 1 60); do
    printf 'warm-up again %s' "$attempt" | copy
    wait_count .se $((se + 1)) 10 && return 0
  done
  return 1
}

"$winerun" reg add "$key" /v GroupBy /t REG_DWORD /d 1 /f >/dev/null
start_or_give_up
# Atoms well above those the session's own programs take (SVault.exe takes
# more as it captures), the same in both runs.
check "program A's copy is archived" copy_from proga 1 49400
check "program B's copy is archived" copy_from progb 1 49500
restart_wine_server
ready=false
start_again && ready=true
check "SVault.exe archives a first copy after the restart" $ready
$ready || { summary; exit 1; }
check "program B's copy after the restart is archived" copy_from progb 2 "${atom[proga.1]:-}"
check "program A's copy after the restart is archived" copy_from proga 2 "${atom[progb.1]:-}"
echo "     atoms: A ${atom[proga.1]:-} then ${atom[proga.2]:-}, B ${atom[progb.1]:-} then ${atom[progb.2]:-}"
check "each program got the other's old atom" \
  [ "${atom[proga.2]:-}" = "${atom[progb.1]:-}" -a "${atom[progb.2]:-}" = "${atom[proga.1]:-}" -a -n "${atom[proga.1]:-}" ]

# The files: one application per program, named by it, and each capture names its program.
files() {
  python3 - "$archive/AppData" <<'PY'
import glob, os, struct, sys
def fields(path):
    data = open(path, "rb").read()[5:]
    out = {}
    while len(data) >= 5:
        tag, size = chr(data[0]), struct.unpack("<I", data[1:5])[0]
        out[tag] = data[5:5 + size]
        data = data[5 + size:]
    return out
for path in sorted(glob.glob(os.path.join(sys.argv[1], "*.app"))):
    f = fields(path)
    print("app", f.get("P", b"").decode(), f.get("T", b"").decode())
for path in sorted(glob.glob(os.path.join(sys.argv[1], "*.se"))):
    f = fields(path)
    if f.get("P"): print("se", f["P"].decode(), f.get("T", b"").decode())
PY
}
files >"$work/files"
sed 's/^/     /' "$work/files"
check "one application file for each program, named by it" \
  [ "$(grep -c '^app prog' "$work/files")" = 2 -a "$(grep -c '^app proga.exe|Named_proga Program proga$' "$work/files")" = 1 \
    -a "$(grep -c '^app progb.exe|Named_progb Program progb$' "$work/files")" = 1 ]
check "each capture names its program" \
  [ "$(grep -c '^se proga.exe|Named_proga Program proga$' "$work/files")" = 2 \
    -a "$(grep -c '^se progb.exe|Named_progb Program progb$' "$work/files")" = 2 ]

# The window for a person to look at: the captures by program. (Under Wine a
# program's icon cannot be copied from another process, so every application
# shows SVault.exe's own; the unit tests check which application each capture
# is shown with.)
wait "${named_pids[@]}" 2>/dev/null
"$winerun" "$svault" >/dev/null 2>&1
sleep 2
import -window root "$shots/named-programs.png"
summary
