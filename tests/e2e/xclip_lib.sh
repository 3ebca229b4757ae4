# Shared by the end-to-end scripts that copy with xclip while the real
# SVault.exe runs: named checks, copies whose xclip processes are recorded, and
# ending exactly those processes. Source it; it defines functions and state.

# `printf ... | copy` then runs copy in the sourcing shell, so the pid of the
# xclip it starts lands in pids (in a pipeline's subshell it would be lost).
shopt -s lastpipe
passed=0 failed=0
pids=()

check() {  # check NAME COMMAND...: one named result, with the seconds so far
  local name=$1; shift
  if "$@"; then
    passed=$((passed + 1)); echo "ok   $name (${SECONDS}s)"
  else
    failed=$((failed + 1)); echo "FAIL $name (${SECONDS}s)"
  fi
}

copy() {  # copy [xclip options...] < input: owns the clipboard until the next copy
  # -quiet keeps xclip in the foreground, so $! is the process that holds the
  # clipboard. `<&0` passes copy's input on: without a redirection of its own, a
  # command started with & gets /dev/null as input.
  xclip -selection clipboard -quiet "$@" <&0 >/dev/null 2>&1 &
  pids+=($!)
}

# Ends only what the script started. A pid is killed only while it is still a
# running job of this shell: the pid of one that ended may already belong to
# another program.
end_started_processes() {
  local running p
  running=" $(jobs -pr | tr '\n' ' ') "
  for p in "${pids[@]}"; do
    case $running in *" $p "*) kill "$p" 2>/dev/null; wait "$p" 2>/dev/null ;; esac
  done
}

# The program's settings key; the scripts point its archive at a folder of their own.
key='HKCU\Software\Brindlework\Scrapvault\1.0\Settings'

# Files with the extension below $archive.
count() { find "$archive" -name "*$1" -type f | wc -l; }
# Waits until the archive holds `want` files with the extension (10 s at most,
# or TENTHS of a second).
wait_count() {  # wait_count EXT WANT [TENTHS]
  local i
  for i in $(seq 1 "${3:-100}"); do
    [ "$(count "$1")" -ge "$2" ] && return 0
    sleep 0.1
  done
  return 1
}

# Points the settings at $archive (no startup shortcut, today's items only),
# starts $svault through $winerun, and copies until a copy is archived. A copy
# made before the program joined the clipboard chain is never archived, so each
# one is given a second (a minute in all). False when none was archived.
start_and_warm_up() {
  "$winerun" reg add "$key" /v ArchiveFolder /d "Z:$(printf '%s' "$archive" | tr / '\\')" /f >/dev/null
  "$winerun" reg add "$key" /v Startup /t REG_DWORD /d 0 /f >/dev/null
  "$winerun" reg add "$key" /v LoadWholeArchive /t REG_DWORD /d 0 /f >/dev/null
  "$winerun" "$svault" >/dev/null 2>&1 &
  pids+=($!)
  local attempt
  for attempt in $(seq 1 60); do
    printf 'warm-up %s' "$attempt" | copy
    wait_count .tx 1 10 && return 0
  done
  return 1
}

# start_and_warm_up as a named check; a script whose program never archived a
# copy has nothing more to check, so it ends there with its summary.
start_or_give_up() {
  local ready=false
  start_and_warm_up && ready=true
  check "SVault.exe archives a first copy" $ready
  $ready || { summary; exit 1; }
}

# Ends $svault (through $winerun) and whatever else the script started, and
# removes its folder $work and its archive setting.
end_archive_work() {
  "$winerun" "$svault" /Uninstall >/dev/null 2>&1
  end_started_processes
  "$winerun" reg delete "$key" /v ArchiveFolder /f >/dev/null 2>&1
  rm -rf "$work"
}

summary() {  # the last line, and the exit code
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

# The real window driven through the tree driver (its keys typed through the
# system's input); the sourcing script sets winerun and driver.
keys() { "$winerun" "$driver" keys "$@" >/dev/null 2>&1; sleep 0.3; }
focus() { "$winerun" "$driver" focus 2>/dev/null | tr -d '\r'; }
windows() { "$winerun" "$driver" windows 2>/dev/null | tr -d '\r'; }
shows() { windows | grep -qx "$1"; }
gone() { ! shows "$1"; }
clipboard_is() { [ "$(xclip -selection clipboard -o 2>/dev/null)" = "$1" ]; }
clipboard_starts() { case $(xclip -selection clipboard -o 2>/dev/null) in "$1"*) true ;; *) false ;; esac; }
