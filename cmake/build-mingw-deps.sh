#!/usr/bin/env bash
# build-mingw-deps.sh PREFIX: builds libxlsxwriter and Expat for 64-bit
# Windows as static libraries from Debian's own source packages, with the
# project's MinGW-w64 toolchain file, and installs their headers and libraries
# into PREFIX/include and PREFIX/lib, with Debian's copyright files (their
# licences) in PREFIX/share/doc. zlib comes from Debian's
# libz-mingw-w64-dev. Needs a deb-src entry (scripts/install-deps.sh adds it)
# and dpkg-dev.
#
# Each library comes from the newest source package that apt can fetch.
# PREFIX/.ledgerly-deps records the versions built, the newest ones apt offered
# and a digest of this script and of the toolchain file; while apt offers the
# same and neither file changes, a run does nothing. Sources are fetched and built in PREFIX.work (removed
# after a build that worked); output goes to PREFIX.work/build.log, printed
# when something fails. PREFIX is replaced only by a complete build.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 PREFIX" >&2
  exit 2
fi
here="$(cd "$(dirname "$0")" && pwd)"
toolchain="$here/mingw-w64-x86_64.cmake"
prefix="$(realpath -m "$1")"
work="$prefix.work"
stamp="$prefix/.ledgerly-deps"
packages=(libxlsxwriter expat)
sysroot=/usr/x86_64-w64-mingw32
jobs=2

mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9

started=$SECONDS
recipe="recipe $(cat "$0" "$toolchain" | sha256sum | cut -c1-16)"

# offered: the source packages that apt offers now, newest versions, as
# "offered PACKAGE VERSION, ..." (from the .dsc names); nothing when apt knows
# no source for them.
offered() {
  apt-get source --print-uris "${packages[@]}" 2>/dev/null |
    sed -n "s/^'[^']*' \([^_ ]*\)_\([^ ]*\)\.dsc .*/\1 \2/p" | paste -sd, - |
    sed 's/,/, /g; s/^./offered &/'
}

wanted="$(printf '%s\n%s' "$recipe" "$(offered || true)")"
if [ -f "$stamp" ]; then
  if [ "$(head -n2 "$stamp")" = "$wanted" ]; then
    echo "mingw-deps: up to date in $prefix ($(tail -n +3 "$stamp" | paste -sd, - | sed 's/,/, /g'))"
    exit 0
  fi
  # Without deb-src indexes (offline, say) the finished prefix is kept.
  if [ "$wanted" = "$recipe" ] && [ "$(head -n1 "$stamp")" = "$recipe" ]; then
    echo "mingw-deps: $prefix kept (apt offers no sources to compare with)"
    exit 0
  fi
elif [ -e "$prefix" ] && [ -n "$(ls -A "$prefix")" ]; then
  echo "mingw-deps: $prefix holds other files; give an empty or new folder" >&2
  exit 1
fi
if [ "$wanted" = "$recipe" ]; then
  echo "mingw-deps: apt has no source package of ${packages[*]}:" \
    "run scripts/install-deps.sh (adds deb-src and runs apt-get update)" >&2
  exit 1
fi

rm -rf "$work"
mkdir -p "$work/src"
log="$work/build.log"
: >"$log"
# show_log: on a failed run, prints the log.
show_log() {
  local status=$?
  if [ "$status" -ne 0 ]; then
    echo "mingw-deps: FAILED; $log follows" >&2
    cat "$log" >&2
    echo "mingw-deps: FAILED (log: $log)" >&2
  fi
}
trap show_log EXIT

# run COMMAND...: runs it with its output in the log.
run() {
  echo "+ [$((SECONDS - started)) s] $*" >>"$log"
  "$@" >>"$log" 2>&1
}

# configure_build_install SOURCE BUILD CMAKE_OPTION...: a Release build with
# the toolchain file, at -O2 as Debian builds them (quicker to compile than
# -O3), installed for PREFIX into the staging folder.
configure_build_install() {
  local source="$1" build="$2"
  shift 2
  run cmake -S "$source" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@"
  run cmake --build "$build" -j "$jobs"
  DESTDIR="$work/stage" run cmake --install "$build"
}

# fetch PACKAGE: unpacks in $work/src the newest source of PACKAGE that can
# be fetched (a mirror may lack the files of the newest one).
fetch() {
  local version
  for version in $(apt-cache showsrc --only-source "$1" | sed -n 's/^Version: //p' | sort -rVu); do
    if (cd "$work/src" && run apt-get source "$1=$version"); then return; fi
  done
  return 1
}

stage="$work/stage$prefix"
versions=()
for package in "${packages[@]}"; do
  fetch "$package"
  dir="$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name "$package-*")"
  version="$(dpkg-parsechangelog -l "$dir/debian/changelog" -S Version)"
  version="${version#*:}"
  versions+=("$package $version")
  case "$package" in
  expat)
    # Debian's patches test "#if XML_DTD == 1" (and later ones XML_GE, which
    # Debian sets to 1), as its autotools build defines them to 1: so does
    # the CMake build here. Then the library alone: no xmlwf, examples, tests
    # or manual page.
    config="$dir/expat/expat_config.h.cmake"
    sed -i 's/^#cmakedefine \(XML_DTD\|XML_NS\)$/#cmakedefine \1 1/' "$config"
    if grep -q '\bXML_GE\b' "$dir"/expat/lib/*.c && ! grep -q '\bXML_GE\b' "$config"; then
      echo '#define XML_GE 1' >>"$config"
    fi
    configure_build_install "$dir/expat" "$work/build-expat" \
      -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
      -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_FUZZERS=OFF
    ;;
  libxlsxwriter)
    # Its bundled minizip and tmpfileplus (temporary files in the workbook's
    # tmpdir, else %TMP%, %TEMP% or the current folder; the C runtime's
    # tmpfile() would use the drive's root). Its static MinGW build defines
    # USE_FILE32API, which limits the zip writer to 2 GB; -U lifts that, as
    # the compiler sees the flags after the definitions.
    configure_build_install "$dir" "$work/build-xlsxwriter" \
      -DUSE_STANDARD_TMPFILE=OFF -DUSE_SYSTEM_MINIZIP=OFF -DUSE_OPENSSL_MD5=OFF \
      -DUSE_NO_MD5=OFF -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF -DCMAKE_C_FLAGS=-UUSE_FILE32API \
      -DZLIB_INCLUDE_DIR="$sysroot/include" -DZLIB_LIBRARY="$sysroot/lib/libz.a"
    ;;
  esac
  rm -rf "${stage:?}/share/doc/$package"
  install -D -m 644 "$dir/debian/copyright" "$stage/share/doc/$package/copyright"
  echo "mingw-deps: built $package $version"
  newest="$(sed -n "2s/.*[ ,]$package \([^,]*\).*/\1/p" <<<"$wanted")"
  if [ "${newest#*:}" != "$version" ]; then
    echo "mingw-deps: WARNING: apt offers $package $newest, but its files could not be fetched" >&2
  fi
done

# Headers, static libraries and the licences; the stamp last, once all is in
# place.
rm -rf "${stage:?}/bin"
printf '%s\n' "$wanted" "${versions[@]}" >"$stage/.ledgerly-deps"
rm -rf "$prefix"
mv "$stage" "$prefix"
trap - EXIT
rm -rf "$work"
echo "mingw-deps: installed into $prefix in $((SECONDS - started)) s"
