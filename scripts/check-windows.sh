#!/usr/bin/env bash
# Builds the two DLLs, the tool, the examples and the test suite as Windows
# programs with Debian's mingw-w64 cross compilers (posix-threads variant)
# and runs the suite under Wine:
#
#   x86_64  64-bit Windows: everything built in build/windows-x86_64, every
#           test run through CTest under wine64 (CMAKE_CROSSCOMPILING_EMULATOR)
#           in a throwaway Wine prefix; then packed as the zip below and
#           checked from an unpacked copy.
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
# The zip, build/packages/session_protolib-VERSION-windows-x86_64.zip, is
# what a Windows user unpacks: one folder with `cmake --install` of the
# build (bin/: the DLLs and session-proto.exe; lib/: import libraries, CMake
# package, pkg-config files; include/: headers and .proto files), the
# runtime's and the compiler's DLLs beside the programs, what building
# against the DLLs takes of the runtime (import library, headers, pkg-config
# file), and licenses/. The stage unpacks it into a temporary folder and,
# in a Wine prefix of its own with nothing of the build on the DLL path,
# runs its session-proto.exe demo (the output must be
# tests/cli/golden/demo.txt), then builds the examples against the unpacked
# folder alone, through the CMake package and through pkg-config, and runs
# them. The i686 build is not packed: nothing of it could be run here.
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
# Exits non-zero if a build, any test or the zip's check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
start=$SECONDS
protolib_need cmake make pkg-config python3 dpkg-dev libprotobuf-dev libcli11-dev googletest wine64 \
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

# The runtime's headers and well-known .proto files in $cache/.../include,
# as its own install rules lay them out (configured for the host: the same
# files for every target), for the zip.
install_runtime_headers() {
  local dir=$cache/protobuf-$version/headers
  [ -f "$dir/.complete-$recipe" ] && return 0
  rm -rf "$dir"
  mkdir -p "$dir"
  cmake -S "$runtime_source" -B "$dir/build" -Dprotobuf_BUILD_TESTS=OFF \
    -Dprotobuf_BUILD_PROTOC_BINARIES=OFF -Dprotobuf_WITH_ZLIB=OFF >"$dir.log" 2>&1 &&
    cmake --install "$dir/build" --prefix "$dir" --component protobuf-headers >>"$dir.log" 2>&1 &&
    cmake --install "$dir/build" --prefix "$dir" --component protobuf-protos >>"$dir.log" 2>&1 || {
    tail -50 "$dir.log"
    echo "check-windows: installing the runtime's headers failed (log: $dir.log)"
    return 1
  }
  rm -rf "$dir/build"
  touch "$dir/.complete-$recipe"
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
  local cxx=$triple-g++-posix dll runtime_dlls=("$runtime/bin/libprotobuf.dll")
  for dll in libstdc++-6.dll libgcc_s_seh-1.dll libgcc_s_dw2-1.dll libwinpthread-1.dll; do
    dll=$("$cxx" -print-file-name="$dll")
    [ -f "$dll" ] && runtime_dlls+=("$(readlink -f "$dll")")
  done
  cp "${runtime_dlls[@]}" "$out/bin/"
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
  t=$SECONDS
  pack_zip "$arch" "${runtime_dlls[@]}" && check_zip "$packed_zip" "$arch" || status=1
  echo "$arch: zip packed and checked in $((SECONDS - t)) s"
  return $status
}

# What a Windows user unpacks: one folder holding the install of
# build/windows-ARCH (bin/: the DLLs and session-proto.exe; lib/: import
# libraries, CMake package, pkg-config files; include/: headers and .proto
# files), beside the programs the DLLs they load (the runtime's and the
# compiler's), and what building against the DLLs takes of the runtime: its
# import library, headers and a pkg-config file. licenses/ holds the
# runtime's licence and the Debian copyright files of the compiler's DLLs.
# Packed as build/packages/session_protolib-VERSION-windows-ARCH.zip, whose
# path is left in packed_zip.
pack_zip() {  # ARCH RUNTIME-DLL...
  local arch=$1 out=build/windows-$1 project_version name stage root
  shift
  project_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/CMakeCache.txt")
  name=session_protolib-$project_version-windows-$arch
  stage=$out/package
  root=$stage/$name
  rm -rf "$stage"
  mkdir -p "$stage" build/packages
  install_runtime_headers &&
    cmake --install "$out" --prefix "$PWD/$root" --strip >"$stage.log" 2>&1 || {
    cat "$stage.log"
    echo "check-windows: installing the $arch build failed"
    return 1
  }
  mkdir -p "$root/licenses"
  cp "$runtime_source/LICENSE" "$root/licenses/protobuf.txt" &&
    cp -R "$cache/protobuf-$version/headers/include/." "$root/include/" &&
    cp "$cache/protobuf-$version/$arch-w64-mingw32/lib/libprotobuf.dll.a" "$root/lib/" || return 1
  local dll package
  for dll in "$@"; do
    # Without their debugging sections: libstdc++ alone shrinks from 24 MB to 2.
    "$arch-w64-mingw32-strip" --strip-unneeded -o "$root/bin/${dll##*/}" "$dll" || return 1
    [[ $dll == /usr/* ]] || continue
    package=$(dpkg -S "$dll" | cut -d: -f1)
    cp "/usr/share/doc/$package/copyright" "$root/licenses/$package.txt" || return 1
  done
  cat >"$root/lib/pkgconfig/protobuf.pc" <<EOF
prefix=\${pcfiledir}/../..
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: Protocol Buffers
Description: Google's Data Interchange Format (the DLL in bin/)
Version: ${version%%-*}
Libs: -L\${libdir} -lprotobuf
Cflags: -I\${includedir} -DPROTOBUF_USE_DLLS
EOF
  # The rest is checked by use (check_zip); the schemas are read by people.
  local file
  for file in session/velocity.proto session/commander_private/commander.proto \
    calibration_common/calibration.proto; do
    [ -f "$root/include/$file" ] || {
      echo "check-windows: the $arch zip would lack include/$file"
      return 1
    }
  done
  packed_zip=build/packages/$name.zip
  local zip=$PWD/$packed_zip
  rm -f "$zip"
  (cd "$stage" && cmake -E tar cf "$zip" --format=zip "$name") || return 1
  rm -rf "$stage"
  echo "$arch: packed $packed_zip: $(cmake -E tar tf "$zip" | grep -vc '/$') files"
}

# Unpacks ZIP into a fresh folder and runs its session-proto.exe demo there
# in a fresh Wine prefix, from a folder outside the checkout and with no
# WINEPATH: the DLLs it loads are the zip's or Wine's own. Then builds two
# examples against the unpacked folder and runs them. Whatever happens, the
# prefix's server is stopped and the folder and the prefix removed.
check_zip() (  # ZIP ARCH
  source=$PWD zip=$PWD/$1 triple=$2-w64-mingw32
  golden=$source/tests/cli/golden/demo.txt
  tmp=$(mktemp -d "${TMPDIR:-/tmp}/protolib-zip.XXXXXX")
  export WINEPREFIX=$tmp/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
  unset WINEPATH WINEDLLPATH
  server=/usr/lib/wine/wineserver
  cleanup() {
    "$server" -k 2>/dev/null
    timeout 30 "$server" -w 2>/dev/null
    rm -rf "$tmp"
  }
  trap cleanup EXIT
  for signal in INT TERM HUP; do
    trap "cleanup; trap - EXIT $signal; kill -$signal \$BASHPID" $signal
  done
  mkdir "$tmp/unpacked" "$WINEPREFIX"
  (cd "$tmp/unpacked" && cmake -E tar xf "$zip") || return 1
  cd "$tmp"
  # The server first, with nothing inherited (see check_arch).
  "$server" -p </dev/null >/dev/null 2>&1
  /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1 || true
  status=0
  # Wine's loader names a DLL that is not found.
  WINEDEBUG=-all,err+module /usr/lib/wine/wine64 unpacked/*/bin/session-proto.exe demo \
    </dev/null >demo.out 2>demo.err || status=$?
  if [ $status -ne 0 ] || ! cmp -s demo.out "$golden"; then
    echo "check-windows: session-proto.exe demo from the unpacked ${zip##*/} exited with $status:"
    cat demo.err
    [ -s demo.out ] && diff "$golden" demo.out | head -40
    return 1
  fi
  echo "${zip##*/}: session-proto.exe demo ran from the unpacked zip in a fresh Wine prefix"
  # Built against the unpacked folder alone, as a MinGW-w64 user would: one
  # example through the CMake package, one through pkg-config, both run with
  # the folder's bin/ as their DLL path.
  prefix=$(echo "$tmp"/unpacked/*)
  mkdir consumer
  cat >consumer/CMakeLists.txt <<EOF
cmake_minimum_required(VERSION 3.18)
project(consumer CXX)
find_package(session_protolib REQUIRED)
add_executable(drive_command "$source/examples/drive_command.cc")
target_link_libraries(drive_command PRIVATE session_protolib::session_protolib)
EOF
  cmake -S consumer -B consumer/build -DCMAKE_TOOLCHAIN_FILE="$source/cmake/$triple.cmake" \
    -DCMAKE_FIND_ROOT_PATH="$prefix" -DCMAKE_PREFIX_PATH=/ -DCMAKE_BUILD_TYPE=Release \
    >consumer.log 2>&1 && nice cmake --build consumer/build >>consumer.log 2>&1 &&
    PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig pkg-config --cflags --libs session_protolib \
      >consumer/flags 2>>consumer.log &&
    nice "$triple-g++-posix" -O1 "$source/examples/change_set.cc" -o consumer/change_set.exe \
      $(cat consumer/flags) >>consumer.log 2>&1 || {
    cat consumer.log
    echo "check-windows: building the examples against the unpacked ${zip##*/} failed"
    return 1
  }
  for program in consumer/build/drive_command.exe consumer/change_set.exe; do
    WINEPATH="Z:${prefix//\//\\}\\bin" /usr/lib/wine/wine64 "$program" </dev/null >run.out 2>&1 || {
      cat run.out
      echo "check-windows: $program, built against the unpacked ${zip##*/}, failed"
      return 1
    }
  done
  echo "${zip##*/}: the examples build against the unpacked zip and run"
)

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
