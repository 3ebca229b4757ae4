# Shared by scripts/run and scripts/test: configure and build the cross build.
svault_build() {
  local top=$1
  BUILD_DIR="$top/build/mingw"
  local toolchain="$top/cmake/mingw-w64-x86_64.cmake" prefix="$top/build/deps"
  # What the configuration is made from. A cache made with another toolchain or
  # another libpng prefix keeps stale compilers and library paths, and objects
  # that another compiler built are not rebuilt by themselves, so when either
  # changes the build folder starts afresh.
  local stamp_file="$BUILD_DIR/svault-configure.stamp" stamp
  stamp="toolchain $(sha256sum <"$toolchain" | cut -d' ' -f1) deps $prefix"
  if [ -f "$BUILD_DIR/CMakeCache.txt" ] && [ "$(cat "$stamp_file" 2>/dev/null)" != "$stamp" ]; then
    echo "build: $BUILD_DIR was configured with another toolchain file or deps prefix (or not to the end); configuring it afresh"
    rm -rf "$BUILD_DIR"
  fi
  if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DSVAULT_DEPS_PREFIX="$prefix" >/dev/null || return 1
    # Written only after a configure that worked, so a failed one is redone.
    printf '%s\n' "$stamp" >"$stamp_file"
  fi
  cmake --build "$BUILD_DIR" -j2
}
