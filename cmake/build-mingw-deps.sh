#!/usr/bin/env bash
# build-mingw-deps.sh PREFIX: builds libxlsxwriter and Expat for 64-bit
# Windows as static libraries from Debian's own source packages, with the
# project's MinGW-w64 toolchain file, and installs their headers and libraries
# into PREFIX/include and PREFIX/lib, with Debian's copyright files (their
# licences) in PREFIX/share/doc. zlib comes from Debian's
# libz-mingw-w64-dev. Needs a deb-src entry (scripts/install-deps.sh adds it)
# and dpkg-dev.
#
# PREFIX/.ledgerly-deps records the source versions and a digest of this
# script and of the toolchain file; when they match what apt would fetch, the
# run does nothing. Sources are fetched and built in PREFIX.work (removed
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

# source_versions: "PACKAGE VERSION" of each source package apt would fetch
# now (from the .dsc names), nothing when apt knows no source for them.
source_versions() {
  apt-get source --print-uris "${packages[@]}" 2>/dev/null |
    sed -n "s/^'[^']*' \([^_ ]*\)_\([^ ]*\)\.dsc .*/\1 \2/p"
}

wanted="$(source_versions || true)"
if [ -f "$stamp" ]; then
  # Without deb-src indexes (offline, say) the finished prefix is kept.
  if [ -z "$wanted" ] && head -n1 "$stamp" | grep -qxF "$recipe"; then
    echo "mingw-deps: $prefix kept (apt knows no newer sources)"
    exit 0
  fi
  if [ "$(cat "$stamp")" = "$(printf '%s\n%s' "$recipe" "$wanted")" ]; then
    echo "mingw-deps: up to date in $prefix ($(tail -n +2 "$stamp" | paste -sd' '))"
    exit 0
  fi
elif [ -e "$prefix" ] && [ -n "$(ls -A "$prefix")" ]; then
  echo "mingw-deps: $prefix holds other files; give an empty or new folder" >&2
  exit 1
fi
if [ -z "$wanted" ]; then
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
# the toolchain file, installed for PREFIX into the staging folder.
configure_build_install() {
  local source="$1" build="$2"
  shift 2
  run cmake -S "$source" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@"
  run cmake --build "$build" -j "$jobs"
  DESTDIR="$work/stage" run cmake --install "$build"
}

(cd "$work/src" && run apt-get source "${packages[@]}")
stage="$work/stage$prefix"
versions=()
for package in "${packages[@]}"; do
  dir="$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name "$package-*")"
  version="$(dpkg-parsechangelog -l "$dir/debian/changelog" -S Version)"
  versions+=("$package ${version#*:}")
  case "$package" in
  expat)
    # Debian's patches test "#if XML_DTD == 1", as its autotools build
    # defines XML_DTD and XML_NS to 1: so does the CMake build here. Then the
    # library alone: no xmlwf, examples, tests or manual page.
    sed -i 's/^#cmakedefine \(XML_DTD\|XML_NS\)$/#cmakedefine \1 1/' "$dir/expat/expat_config.h.cmake"
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
  echo "mingw-deps: built $package ${version#*:}"
done

# Headers, static libraries and the licences; the stamp last, once all is in
# place.
rm -rf "${stage:?}/bin"
printf '%s\n' "$recipe" "${versions[@]}" >"$stage/.ledgerly-deps"
rm -rf "$prefix"
mv "$stage" "$prefix"
trap - EXIT
rm -rf "$work"
echo "mingw-deps: installed into $prefix in $((SECONDS - started)) s"
