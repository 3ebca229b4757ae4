# Shared by scripts/run and scripts/test: a private Xvfb display and a private
# Wine prefix, both removed (with every process in them) by wine_session_end.
# Source it; it defines functions and changes nothing by itself.

# Exports the project's Wine environment and sets WINE and WINESERVER.
wine_session_env() {
  source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
}

# Starts Xvfb on a free display number and exports DISPLAY.
wine_session_start_display() {
  local fdfile
  fdfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
  XVFB_PID=$!
  local i
  for i in $(seq 1 100); do
    [ -s "$fdfile" ] && break
    sleep 0.05
  done
  export DISPLAY=":$(head -n 1 "$fdfile")"
  rm -f "$fdfile"
}

# Creates a fresh prefix in the given folder (or a new temporary one) and keeps
# a wineserver alive for it so that every program start is quick.
wine_session_start_prefix() {
  export WINEPREFIX=${1:-$(mktemp -d /tmp/svault-wine.XXXXXX)}
  mkdir -p "$WINEPREFIX"
  "$WINESERVER" -p
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$WINE" wineboot --init >/dev/null 2>&1 || true
  fi
  # Without a window manager, hiding windows and closing dialogs stall unless
  # Wine manages its windows itself. The desktop process (explorer.exe, which
  # also draws the stand-in notification area) reads this when it starts, so the
  # one wineboot started is replaced: otherwise removing the last notification
  # icon stalls for two seconds every time.
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  # A program that crashes ends at once (its debugger cannot start) instead of
  # waiting in Wine's debugger until the test's time-out.
  "$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d 'no-debugger.exe %ld %ld' /f >/dev/null 2>&1
  "$WINESERVER" -k
  "$WINESERVER" -w
  "$WINESERVER" -p
  "$WINE" wineboot >/dev/null 2>&1 || true
  # Bring the desktop process up now, with its output away from the callers'
  # pipes; it then stays for the whole session. Started by the first test
  # instead, it would hold that test's output pipe open for seconds after it ends.
  "$WINE" rundll32.exe user32.dll,MessageBeep >/dev/null 2>&1 || true
}

wine_session_end() {
  if [ -n "${WINEPREFIX:-}" ]; then
    "$WINESERVER" -k >/dev/null 2>&1 || true
    if [ "${WINE_SESSION_KEEP_PREFIX:-}" != 1 ]; then rm -rf "$WINEPREFIX"; fi
  fi
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
  fi
}
