# Shared by scripts/run and scripts/test: configure and build the cross build.
svault_build() {
  local top=$1
  BUILD_DIR="$top/build/mingw"
  if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
      -DSVAULT_DEPS_PREFIX="$top/build/deps" >/dev/null
  fi
  cmake --build "$BUILD_DIR" -j2
}
