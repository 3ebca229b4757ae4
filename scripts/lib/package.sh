# Shared by scripts/package and the installer's test: the portable zip and the
# installer of a built program.
# svault_package BIN_DIR OUT_DIR [VERSION]: BIN_DIR holds SVault.exe and svault.chm;
# writes OUT_DIR/Scrapvault-VERSION-x64.zip and .msi (VERSION defaults to 1.0).
svault_package() {
  local bin=$1 out version=${3:-1.0}
  mkdir -p "$2" && out=$(cd "$2" && pwd)
  local top stage name
  top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  name="Scrapvault-$version-x64"
  stage=$(mktemp -d /tmp/svault-package.XXXXXX)
  mkdir -p "$out" "$stage/Scrapvault"
  # The debugging information stays behind: a tenth of the size.
  x86_64-w64-mingw32-strip -o "$stage/Scrapvault/SVault.exe" "$bin/SVault.exe" || { rm -rf "$stage"; return 1; }
  cp "$bin/svault.chm" "$stage/Scrapvault/"
  # Text files as Windows users' editors expect them.
  sed 's/$/\r/' "$top/packaging/README.txt" >"$stage/Scrapvault/README.txt"
  sed 's/$/\r/' "$top/LICENSE" >"$stage/Scrapvault/LICENSE.txt"
  rm -f "$out/$name.zip" "$out/$name.msi"
  (cd "$stage" && zip -q -X -r "$out/$name.zip" Scrapvault) || { rm -rf "$stage"; return 1; }
  # wixl takes its sources by paths relative to where it runs.
  (cd "$stage/Scrapvault" &&
    wixl -a x64 -D Version="$version.0" -D BinDir=. -D StageDir=. \
      -o "$out/$name.msi" "$top/packaging/Scrapvault.wxs" >"$stage/wixl.log" 2>&1) &&
    [ -s "$out/$name.msi" ] || {
    grep -v GObject-WARNING "$stage/wixl.log" >&2
    rm -rf "$stage"
    return 1
  }
  rm -rf "$stage"
}
