# The environment of every Wine process Scrapvault's scripts and tests start,
# defined once. scripts/wine-run (ctest's wrapper for every test executable,
# also usable by hand) and scripts/lib/wine-session.sh (run, test, bench)
# source it. Besides the exports it sets WINE and WINESERVER to the programs
# to call.

# Quiet unless whoever runs us asks for debug channels.
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko install prompts, and no menu or autostart entries written
# into the user's real desktop when a shell link is saved.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
# The ANSI code page is then 1252, which the text conversions are tested against.
export LANG=C.UTF-8
# An explicit zone; a test that needs another one passes its own TZ.
export TZ=${TZ:-UTC}
export WINEARCH=win64
# Debian 12 ships the 64-bit loader here and no /usr/bin/wine.
if [ -x /usr/lib/wine/wine64 ]; then
  export WINELOADER=/usr/lib/wine/wine64
  WINE=/usr/lib/wine/wine64
  WINESERVER=/usr/lib/wine/wineserver64
  [ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver
else
  WINE=wine
  WINESERVER=wineserver
fi
