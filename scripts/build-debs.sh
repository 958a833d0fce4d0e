#!/usr/bin/env bash
# Builds the Debian packages of debian/ with dpkg-buildpackage -b -us -uc in a
# scratch copy of the tree (build/debs; the checkout stays as it is), moves
# the .deb files to OUTDIR (the debug symbols to OUTDIR/debug), lists what
# each holds and runs lintian on them: an error fails, warnings are shown.
# A change of the libraries' exported symbols against debian/*.symbols fails
# the build with the difference; after a deliberate change, --update-symbols
# builds the packages and writes debian/*.symbols anew from them.
# Usage: scripts/build-debs.sh OUTDIR
#        scripts/build-debs.sh --update-symbols
set -euo pipefail
update_symbols=0
if [ "${1:-}" = --update-symbols ] && [ $# -eq 1 ]; then
  update_symbols=1
elif [ $# -ne 1 ] || [[ $1 == -* ]]; then
  echo "usage: $0 OUTDIR | $0 --update-symbols" >&2
  exit 2
else
  mkdir -p "$1"
  out=$(cd "$1" && pwd)
fi
cd "$(dirname "$0")/.."
source scripts/deps.sh
protolib_need "${PROTOLIB_BASE_PACKAGES[@]}" "${PROTOLIB_DEB_PACKAGES[@]}" || exit 1
checkout=$PWD

dpkg-checkbuilddeps || {
  echo "build-debs: debian/control needs packages that scripts/deps.sh does not install"
  exit 1
}
version=$(dpkg-parsechangelog -S Version)
project_version=$(sed -n 's/^project(session_protolib VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "$version" = "$project_version" ] || {
  echo "build-debs: debian/changelog is at $version, CMakeLists.txt at $project_version:" \
    "add an entry for $project_version to debian/changelog"
  exit 1
}

# The scratch copy: the tree without git's data and build folders.
# dpkg-buildpackage writes the packages beside it, into build/debs.
work=build/debs
tree=$work/session-protolib-$version
rm -rf "$work"
mkdir -p "$tree"
tar -c --exclude=./.git --exclude=./build --exclude='./build-*' --exclude='./obj-*' . |
  tar -x -C "$tree"

log=build/debs-build.log
check_level=()
[ $update_symbols -eq 1 ] && check_level=(DPKG_GENSYMBOLS_CHECK_LEVEL=0)
echo "building the packages of session-protolib $version (log: $log)"
started=$SECONDS
if ! (cd "$tree" && env "${check_level[@]}" nice dpkg-buildpackage -b -us -uc \
        -J"$protolib_jobs") >"$log" 2>&1; then
  if grep -q '^dpkg-gensymbols: error' "$log"; then
    awk '/^dpkg-gensymbols|^(---|[+][+][+]) / { on = 1 } on { print } /^dh_makeshlibs: error/ { exit }' \
      "$log" | head -300
    echo "build-debs: the libraries' exported symbols differ from debian/*.symbols (above);" \
      "if the change is meant, 'scripts/build-debs.sh --update-symbols' writes them anew"
  else
    grep -E -B2 -A10 'error|Error' "$log" | head -200 || tail -50 "$log"
    echo "build-debs: dpkg-buildpackage failed (full log: $log)"
  fi
  exit 1
fi
echo "built in $((SECONDS - started)) s"

if [ $update_symbols -eq 1 ]; then
  # Each library package's symbols as dpkg-gensymbols finds them: entries
  # already listed keep their versions, new ones are written demangled
  # ((c++) form), weak functions (inline members, emitted where used) as
  # optional, entries gone are dropped. New entries get the version with a
  # '~' (1.0.0~ sorts before 1.0.0), so that a symbol that disappears fails
  # a build of that same version too, not only of later ones.
  dev=$(sed -n 's/^Package: \(lib.*-dev\)$/\1/p' debian/control)
  new_version="s/ ${version//./\\.}\$/ $version~/"
  for pkg in $(sed -n 's/^Package: \(lib.*[0-9]\)$/\1/p' debian/control); do
    file=debian/$pkg.symbols
    raw=$work/$pkg.symbols
    template=()
    [ -f "$file" ] && template=(-I"$checkout/$file")
    (cd "$tree" && dpkg-gensymbols -p"$pkg" -P"debian/$pkg" -v"$version" -c0 -q \
      "${template[@]}" -O"$checkout/$raw")
    lib=$(find "$tree/debian/$pkg" -name 'lib*.so.*' -type f | head -1)
    nm -D --defined-only "$lib" | awk '$2 == "W" { print $3 "@Base" }' >"$work/weak"
    grep '^ _Z' "$raw" | awk '{ print $1 "\t" $2 }' >"$work/mangled" || true
    cut -f1 "$work/mangled" | sed 's/@Base$//' | c++filt | paste "$work/mangled" - >"$work/demangled"
    {
      head -1 "$raw"
      echo "* Build-Depends-Package: $dev"
      {
        grep '^ ' "$raw" | grep -v '^ _Z' || true
        awk -F'\t' 'NR == FNR { weak[$1] = 1; next }
          { printf " (%s)\"%s@Base\" %s\n", ($1 in weak) ? "c++|optional" : "c++", $3, $2 }' \
          "$work/weak" "$work/demangled"
      } | sed "$new_version" | LC_ALL=C sort -u
    } >"$file"
    echo "$file: $(grep -c '^ ' "$file") symbols"
  done
  git diff --stat -- debian/*.symbols 2>/dev/null || true
  echo "build-debs: symbols written; 'scripts/build-debs.sh OUTDIR' builds the packages"
  exit 0
fi

# Into OUTDIR, replacing the packages of an earlier run.
packages=$(sed -n 's/^Package: //p' debian/control)
for pkg in $packages; do
  rm -f "$out/${pkg}_"*.deb "$out/debug/${pkg}-dbgsym_"*.deb
done
debs=()
for deb in "$work"/*.deb; do
  case $deb in
    *-dbgsym_*) mkdir -p "$out/debug"; mv "$deb" "$out/debug/"; debs+=("$out/debug/${deb##*/}") ;;
    *) mv "$deb" "$out/"; debs+=("$out/${deb##*/}") ;;
  esac
done

for deb in "${debs[@]}"; do
  echo "${deb#"$checkout"/} ($(($(stat -c %s "$deb") / 1024)) KiB)"
  case $deb in */debug/*) continue ;; esac
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { $1 = $2 = $3 = $4 = $5 = ""; sub(/^ *\./, "  "); print }'
done

lintian_log=build/debs-lintian.log
status=0
lintian --fail-on error --tag-display-limit 0 "${debs[@]}" >"$lintian_log" 2>&1 || status=$?
sed -i '/^running with root privileges/d' "$lintian_log"
[ $status -eq 0 ] || {
  cat "$lintian_log"
  echo "build-debs: lintian found errors"
  exit 1
}
if [ -s "$lintian_log" ]; then
  echo "lintian:"
  cat "$lintian_log"
else
  echo "lintian: no errors, no warnings"
fi
