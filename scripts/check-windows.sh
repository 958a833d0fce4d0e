#!/usr/bin/env bash
# Builds the two DLLs, the tool, the examples and the test suite as Windows
# programs with Debian's mingw-w64 cross compilers (posix-threads variant)
# and runs the suite under Wine:
#
#   x86_64  64-bit Windows: everything built in build/windows-x86_64, every
#           test run through CTest under wine64 (CMAKE_CROSSCOMPILING_EMULATOR)
#           in a throwaway Wine prefix.
#   i686    32-bit Windows: everything compiled and linked in
#           build/windows-i686, nothing run: this machine's kernel runs no
#           32-bit code and there is no 32-bit Wine.
#
# The runtime is not packaged for Windows. Its DLL is cross-built from
# Debian's source package of the installed libprotobuf-dev version (a deb-src
# entry is added beside the deb one if there is none), libprotobuf alone
# (no protoc, no libprotoc, no tests; the schema importer the tests use is
# part of libprotobuf), and GoogleTest from /usr/src/googletest. Both are
# built into a cache outside the checkout, reused while the package versions
# and the recipe below stay the same:
#   ${PROTOLIB_CACHE_DIR:-${XDG_CACHE_HOME:-~/.cache}/session_protolib}
# Each program directory (bin/) holds the programs, the project's DLLs and the
# runtime's, and the compiler's runtime DLLs (libstdc++, libgcc, winpthread),
# so that every module shares one C++ runtime.
#
# Each test executable is one CTest test here (a process start under Wine
# is slow); windows_dll_test joins the suite. Left out, with the reason
# (tests/CMakeLists.txt, tests/cli): allocation_failure_test replaces the
# global operator new, which on Windows binds within the executable alone;
# install_and_consume builds a host program against an installed tree with
# the host's compiler, a check of the Linux packaging;
# session_proto.InstalledLayout reads the installed tool's ELF dependencies.
# exported_symbols runs on the host and reads the DLLs' export tables.
#
# Usage: scripts/check-windows.sh [x86_64] [i686]   (default: both)
# Exits non-zero if a build or any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
start=$SECONDS
protolib_need cmake make python3 dpkg-dev libprotobuf-dev libcli11-dev googletest wine64 \
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix

arches=("$@")
[ ${#arches[@]} -eq 0 ] && arches=(x86_64 i686)

# The host's own package: the i386 stage may have installed a second one.
version=$(dpkg-query -W -f='${Version}' "libprotobuf-dev:$(dpkg --print-architecture)")
gtest_version=$(dpkg-query -W -f='${Version}' googletest)
cache=${PROTOLIB_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/session_protolib}
# Bump when the runtime or GoogleTest build below changes.
recipe=1
runtime_source=$cache/protobuf-$version/source

# Debian's source of the installed runtime, patches applied.
fetch_runtime_source() {
  [ -f "$runtime_source/.complete" ] && return 0
  if ! apt-cache showsrc "protobuf=$version" 2>/dev/null | grep -q "^Version: $version\$"; then
    echo "adding deb-src entries beside the deb ones"
    # Debian's own archives only, as stanzas (deb822) or lines.
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] && [[ $f != */protolib-deb-src.sources ]] || continue
      awk 'BEGIN { RS = ""; ORS = "\n\n" }
           /(^|\n)Types:[^\n]*deb/ && /URIs:[^\n]*debian/ {
             sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f"
    done | $protolib_sudo tee /etc/apt/sources.list.d/protolib-deb-src.sources >/dev/null
    if [ -f /etc/apt/sources.list ]; then
      sed -n 's/^deb \(.*debian.*\)/deb-src \1/p' /etc/apt/sources.list |
        $protolib_sudo tee /etc/apt/sources.list.d/protolib-deb-src.list >/dev/null
    fi
    $protolib_sudo apt-get update -qq
  fi
  local fetch
  mkdir -p "$cache"
  fetch=$(mktemp -d "$cache/fetch.XXXXXX")
  (cd "$fetch" && apt-get source -qq "protobuf=$version" >/dev/null 2>"$fetch/log") || {
    cat "$fetch/log"
    rm -rf "$fetch"
    return 1
  }
  rm -rf "$runtime_source"
  mkdir -p "$(dirname "$runtime_source")"
  mv "$fetch"/protobuf-*/ "$runtime_source"
  rm -rf "$fetch"
  touch "$runtime_source/.complete"
}

# libprotobuf.dll and its import library in $cache/.../TRIPLE/{bin,lib}.
# Optimized for build time: the suite tests the message libraries.
build_runtime() {  # TRIPLE
  local dir=$cache/protobuf-$version/$1
  [ -f "$dir/.complete-$recipe" ] && return 0
  rm -rf "$dir"
  mkdir -p "$dir"
  local t=$SECONDS
  cmake -S "$runtime_source" -B "$dir/build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/$1.cmake" \
    -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG" \
    -Dprotobuf_BUILD_SHARED_LIBS=ON -Dprotobuf_BUILD_TESTS=OFF \
    -Dprotobuf_BUILD_PROTOC_BINARIES=OFF -Dprotobuf_BUILD_LIBPROTOC=OFF \
    -Dprotobuf_WITH_ZLIB=OFF -Dprotobuf_INSTALL=OFF >"$dir.log" 2>&1 &&
    nice cmake --build "$dir/build" --target libprotobuf -j"$protolib_jobs" >>"$dir.log" 2>&1 || {
    tail -50 "$dir.log"
    echo "check-windows: building the runtime for $1 failed (log: $dir.log)"
    return 1
  }
  mkdir -p "$dir/bin" "$dir/lib"
  cp "$dir/build/libprotobuf.dll" "$dir/bin/"
  cp "$dir/build/libprotobuf.dll.a" "$dir/lib/"
  rm -rf "$dir/build"
  touch "$dir/.complete-$recipe"
  echo "runtime for $1 built in $((SECONDS - t)) s"
}

# GoogleTest, static, installed with its CMake package in $cache/.../TRIPLE.
build_gtest() {  # TRIPLE
  local dir=$cache/googletest-$gtest_version/$1
  [ -f "$dir/.complete-$recipe" ] && return 0
  rm -rf "$dir"
  mkdir -p "$dir"
  cmake -S /usr/src/googletest -B "$dir/build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/$1.cmake" \
    -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG" -DBUILD_GMOCK=OFF \
    -DBUILD_SHARED_LIBS=OFF -DCMAKE_INSTALL_PREFIX="$dir" >"$dir.log" 2>&1 &&
    nice cmake --build "$dir/build" -j"$protolib_jobs" >>"$dir.log" 2>&1 &&
    cmake --install "$dir/build" >>"$dir.log" 2>&1 || {
    tail -50 "$dir.log"
    echo "check-windows: building GoogleTest for $1 failed (log: $dir.log)"
    return 1
  }
  rm -rf "$dir/build"
  touch "$dir/.complete-$recipe"
}

# The project in build/windows-ARCH; with an emulator, its tests run too.
check_arch() {  # ARCH
  local arch=$1 triple=$1-w64-mingw32
  local out=build/windows-$arch runtime=$cache/protobuf-$version/$triple
  local t=$SECONDS
  build_runtime "$triple"
  build_gtest "$triple"
  local emulator_args=()
  mkdir -p "$out"
  if [ "$arch" = x86_64 ]; then
    # A throwaway prefix; Wine's .NET and HTML engines are not wanted.
    cat >"$out/wine" <<EOF
#!/bin/sh
export WINEPREFIX='$PWD/$out/wineprefix' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
exec /usr/lib/wine/wine64 "\$@"
EOF
    chmod +x "$out/wine"
    emulator_args=(-DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/$out/wine")
  fi
  # CLI11 is header-only; its package configuration would put all of
  # /usr/include on the Windows include path. The same configuration, moved
  # beside a link to its own headers alone:
  mkdir -p "$out/cli11/share/cmake/CLI11" "$out/cli11/include"
  cp /usr/share/cmake/CLI11/*.cmake "$out/cli11/share/cmake/CLI11/"
  ln -sfn /usr/include/CLI "$out/cli11/include/CLI"
  cmake -S . -B "$out" -DCMAKE_TOOLCHAIN_FILE="cmake/$triple.cmake" \
    -DCLI11_DIR="$PWD/$out/cli11/share/cmake/CLI11" \
    -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
    -DCMAKE_CXX_FLAGS=-DPROTOBUF_USE_DLLS \
    -DProtobuf_INCLUDE_DIR="$runtime_source/src" \
    -DProtobuf_LIBRARY="$runtime/lib/libprotobuf.dll.a" \
    -DGTest_DIR="$cache/googletest-$gtest_version/$triple/lib/cmake/GTest" \
    -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$PWD/$out/bin" \
    "${emulator_args[@]}" >"$out.log" 2>&1 || {
    cat "$out.log"
    echo "check-windows: configuring for $arch failed"
    return 1
  }
  nice cmake --build "$out" -j"$protolib_jobs" >>"$out.log" 2>&1 || {
    grep -E -B2 -A10 'error|Error' "$out.log" | head -200
    echo "check-windows: the $arch build failed (log: $out.log)"
    return 1
  }
  local cxx=$triple-g++-posix dll
  for dll in libstdc++-6.dll libgcc_s_seh-1.dll libgcc_s_dw2-1.dll libwinpthread-1.dll; do
    dll=$("$cxx" -print-file-name="$dll")
    [ -f "$dll" ] && cp "$dll" "$out/bin/"
  done
  cp "$runtime/bin/libprotobuf.dll" "$out/bin/"
  echo "$arch: built in $((SECONDS - t)) s: $(cd "$out/bin" && ls *.dll *.exe | wc -l) DLLs and programs"
  if [ ${#emulator_args[@]} -eq 0 ]; then
    # Nothing runs; the export tables are read on the host.
    OBJDUMP=$triple-objdump tests/check_exports.sh "$out/bin/session_protolib.dll" \
      "$out/bin/calibration_protolib.dll"
    return
  fi

  # One Wine server and its services for the whole run, started here with
  # nothing inherited: started by a test's program, they would hold that
  # test's output pipes open for as long as they live.
  t=$SECONDS
  local server=(env WINEPREFIX="$PWD/$out/wineprefix" /usr/lib/wine/wineserver)
  "${server[@]}" -k 2>/dev/null || true
  rm -rf "$out/wineprefix"
  mkdir -p "$out/wineprefix"
  "${server[@]}" -p </dev/null >/dev/null 2>&1
  "$out/wine" wineboot --init </dev/null >/dev/null 2>&1 || true
  echo "$arch: Wine prefix made in $((SECONDS - t)) s"
  t=$SECONDS
  local status=0
  (cd "$out" && ctest --output-on-failure -j"$protolib_jobs") || status=$?
  "${server[@]}" -k 2>/dev/null || true
  echo "$arch: tests ran under Wine in $((SECONDS - t)) s"
  return $status
}

failed=()
for arch in "${arches[@]}"; do
  case $arch in
    x86_64 | i686) ;;
    *) echo "unknown architecture: $arch"; exit 2 ;;
  esac
  fetch_runtime_source
  echo "=== windows $arch: $("$arch-w64-mingw32-g++-posix" --version | head -1)"
  check_arch "$arch" || failed+=("$arch")
done
echo "check-windows: ${#arches[@]} architectures, ${#failed[@]} failed, $((SECONDS - start)) s"
[ ${#failed[@]} -eq 0 ] || exit 1
