#!/usr/bin/env bash
# build-mingw-deps.sh [--strict] PREFIX: builds libxlsxwriter and Expat for
# 64-bit Windows as static libraries from Debian's own source packages, with
# the project's MinGW-w64 toolchain file, and installs their headers and
# libraries into PREFIX/include and PREFIX/lib, with Debian's copyright files
# (their licences) in PREFIX/share/doc; zlib comes from Debian's
# libz-mingw-w64-dev, whose copyright file is copied there too. Needs a
# deb-src entry and dpkg-dev (scripts/install-deps.sh --windows adds both).
#
# Each library comes from the newest source package that apt can fetch. When
# that is not the newest one apt offers (a mirror may lack the files of a
# security release), it says so loudly; with --strict it then fails and
# keeps PREFIX as it was.
# build-mingw-deps.sh --fetchable: exits 0 when the files of the newest
# source package of each library can be fetched now, 1 when not.
#
# PREFIX/.ledgerly-deps records the versions built (zlib's last), the newest
# ones apt offered and a digest of this script, of the toolchain file and of
# zlib's version; while apt offers the same and none of these changes, a run
# does nothing. Sources are fetched and built in PREFIX.work (removed after a
# build that worked); output goes to PREFIX.work/build.log, printed when
# something fails. PREFIX is replaced only by a complete build.
set -euo pipefail

strict=0
case "${1-}" in
--strict)
  strict=1
  shift
  ;;
--fetchable) [ $# -eq 1 ] || set -- --usage ;;
esac
if [ $# -ne 1 ] || [ "$1" = --usage ]; then
  echo "usage: $0 [--strict] PREFIX | $0 --fetchable" >&2
  exit 2
fi
here="$(cd "$(dirname "$0")" && pwd)"
toolchain="$here/mingw-w64-x86_64.cmake"
packages=(libxlsxwriter expat)
sysroot=/usr/x86_64-w64-mingw32
zlib_package=libz-mingw-w64-dev
jobs=2

# fetchable: true when every .dsc of the newest sources apt offers downloads.
fetchable() {
  local dir uri file status=0
  dir="$(mktemp -d)"
  chmod 755 "$dir"
  while read -r uri file; do
    /usr/lib/apt/apt-helper download-file "$uri" "$dir/$file" >/dev/null 2>&1 || status=1
  done < <(apt-get source --print-uris "${packages[@]}" 2>/dev/null |
    sed -n "s/^'\([^']*\)' \([^ ]*\.dsc\) .*/\1 \2/p")
  [ -n "$(ls -A "$dir")" ] || status=1
  rm -rf "$dir"
  return "$status"
}

if [ "$1" = --fetchable ]; then
  fetchable
  exit
fi
prefix="$(realpath -m "$1")"
work="$prefix.work"
stamp="$prefix/.ledgerly-deps"

mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9

started=$SECONDS
zlib_version="$(dpkg-query -W -f='${Version}' "$zlib_package")"
recipe="recipe $({ cat "$0" "$toolchain"; echo "$zlib_version"; } | sha256sum | cut -c1-16)"

# offered: the source packages that apt offers now, newest versions, as
# "offered PACKAGE VERSION, ..." (from the .dsc names); nothing when apt knows
# no source for them.
offered() {
  apt-get source --print-uris "${packages[@]}" 2>/dev/null |
    sed -n "s/^'[^']*' \([^_ ]*\)_\([^ ]*\)\.dsc .*/\1 \2/p" | paste -sd, - |
    sed 's/,/, /g; s/^./offered &/'
}

# behind OFFERED NAME VERSION: true, after a loud warning, when VERSION of
# NAME is older than the one in OFFERED (a line "offered NAME VERSION, ...").
behind() {
  local newest
  newest="$(sed -n "s/.*[ ,]$2 \([^,]*\).*/\1/p" <<<"$1")"
  [ -n "$newest" ] && [ "${newest#*:}" != "$3" ] || return 1
  {
    echo "mingw-deps: ********************************************************************"
    echo "mingw-deps: WARNING: $2 $3 is built, not the newest release $newest that apt"
    echo "mingw-deps: offers: its source files could not be fetched. The programs built"
    echo "mingw-deps: with it lack that release's fixes (for Expat: security fixes)."
    echo "mingw-deps: ********************************************************************"
  } >&2
}

# stale STAMP: true when a library in STAMP is older than apt offered (each
# one said loudly).
stale() {
  local name version found=1
  while read -r name version; do
    if behind "$(sed -n 2p "$1")" "$name" "$version"; then found=0; fi
  done < <(sed -n '3,$p' "$1")
  return "$found"
}

wanted="$(printf '%s\n%s' "$recipe" "$(offered || true)")"
if [ -f "$stamp" ]; then
  # Under --strict an older library than apt offers is tried again.
  if [ "$(head -n2 "$stamp")" = "$wanted" ] && ! { ((strict)) && stale "$stamp" 2>/dev/null; }; then
    stale "$stamp" || true
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
    "run scripts/install-deps.sh --windows (adds deb-src and runs apt-get update)" >&2
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
  if behind "$(sed -n 2p <<<"$wanted")" "$package" "$version" && ((strict)); then
    echo "mingw-deps: --strict: $prefix is left as it was" >&2
    trap - EXIT
    rm -rf "$work"
    exit 1
  fi
done
install -D -m 644 "/usr/share/doc/$zlib_package/copyright" "$stage/share/doc/zlib/copyright"
versions+=("zlib $zlib_version")

# Headers, static libraries and the licences; the stamp last, once all is in
# place.
rm -rf "${stage:?}/bin"
printf '%s\n' "$wanted" "${versions[@]}" >"$stage/.ledgerly-deps"
rm -rf "$prefix"
mv "$stage" "$prefix"
trap - EXIT
rm -rf "$work"
echo "mingw-deps: installed into $prefix in $((SECONDS - started)) s"
