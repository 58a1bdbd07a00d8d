#!/usr/bin/env bash
# Packages ledgerly-convert as the Debian package "ledgerly" (the package
# preset: the converter alone, optimised, in build/package), installs it with
# apt-get, which brings the libraries the package declares, converts the
# sample log with the installed program and compares the CSV with the one the
# built program writes, checks the installed manual page, and removes the
# package again; lintian must find no error in it. When the Windows builds
# are there (build/windows from stage 10, build/windows-release from
# scripts/build-windows.sh), checks their ZIP archives too. Run as root.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build/package
work=$build/check
export DEBIAN_FRONTEND=noninteractive

rm -f "$build"/ledgerly_*.deb
cmake --preset package >/dev/null
cmake --build --preset package # the converter, then its package
debs=("$build"/ledgerly_*.deb)
[ "${#debs[@]}" = 1 ] && [ -s "${debs[0]}" ] || {
  echo "expected one package in $build: ${debs[*]}" >&2
  exit 1
}
deb=${debs[0]}
echo "Package: $deb"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# What the package holds and declares.
listing=$(dpkg-deb -c "$deb")
for file in ./usr/bin/ledgerly-convert ./usr/share/man/man1/ledgerly-convert.1.gz \
  ./usr/share/doc/ledgerly/README.md ./usr/share/doc/ledgerly/changelog.gz \
  ./usr/share/doc/ledgerly/copyright; do
  grep -q " $file\$" <<<"$listing" || fail "$deb does not hold $file"
done
[ "$(dpkg-deb -f "$deb" Package)" = ledgerly ] || fail "the package is not named ledgerly"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libc6' <<<"$depends" || fail "no libraries declared: Depends: $depends"
echo "Depends: $depends"
status=0
lintian --tag-display-limit 0 "$deb" >"$build/lintian.log" 2>&1 || status=$?
cat "$build/lintian.log"
if grep -q '^E:' "$build/lintian.log"; then
  fail "lintian found errors in $deb"
elif [ "$status" != 0 ]; then
  fail "lintian failed with status $status"
fi

# Installed like any package, removed however the stage ends.
if dpkg -s ledgerly >/dev/null 2>&1; then dpkg -r ledgerly >/dev/null; fi
trap 'dpkg -r ledgerly >/dev/null 2>&1 || true' EXIT
apt-get install -y -q -o DPkg::Lock::Timeout=120 "$PWD/$deb" >"$build/apt-get.log" 2>&1 || {
  cat "$build/apt-get.log" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
status=0
/usr/bin/ledgerly-convert examples/station-log.adi "$work/installed.CSV" 2>"$work/installed.err" ||
  status=$?
[ "$status" = 0 ] || fail "the installed converter exited with status $status"
"$build/cli/ledgerly-convert" examples/station-log.adi "$work/built.CSV" 2>"$work/built.err"
cmp "$work/built.CSV" "$work/installed.CSV" || fail "the installed converter wrote another CSV"
cmp "$work/built.err" "$work/installed.err" || fail "the installed converter said something else"
version=$(dpkg-deb -f "$deb" Version)
shown=$(/usr/bin/ledgerly-convert --version)
[ "$shown" = "ledgerly-convert $version" ] ||
  fail "the package's version $version is not the program's: $shown"

# The manual page: where man finds it, clean to mandoc, readable by man.
page=/usr/share/man/man1/ledgerly-convert.1.gz
[ "$(man -w ledgerly-convert)" = "$page" ] || fail "man does not find $page"
lint=$(mandoc -T lint -W warning "$page" 2>&1) || true
[ -z "$lint" ] || fail "mandoc: $lint"
MANWIDTH=80 man -l "$page" 2>"$work/man.err" | grep -q '^EXIT STATUS' ||
  fail "man -l shows no EXIT STATUS section"
[ ! -s "$work/man.err" ] || fail "man -l: $(head -n 3 "$work/man.err")"

dpkg -r ledgerly >/dev/null
[ ! -e /usr/bin/ledgerly-convert ] || fail "dpkg -r left /usr/bin/ledgerly-convert"

# check_zip ZIP: the Windows archive holds the two programs, README.txt for
# Windows users, LICENSES.txt naming the Expat built into them, and the
# sample log, with Windows line ends.
check_zip() {
  local zip=$1 top deps expat expected found
  unzip -l "$zip"
  top=$(basename "$zip" .zip)
  expected=$(printf '%s\n' "$top/Ledgerly.exe" "$top/README.txt" "$top/LICENSES.txt" \
    "$top/examples/station-log.adi" "$top/ledgerly-convert.exe" | LC_ALL=C sort)
  found=$(unzip -Z1 "$zip" | grep -v '/$' | LC_ALL=C sort)
  [ "$found" = "$expected" ] || fail "$zip holds:"$'\n'"$found"
  [ "$(unzip -p "$zip" "$top/README.txt" | head -n 1)" = "Ledgerly $version for Windows"$'\r' ] ||
    fail "README.txt in $zip is not the Windows help with Windows line ends"
  deps=$(sed -n 's/^LEDGERLY_MINGW_DEPS:[A-Z]*=//p' "$(dirname "$zip")/CMakeCache.txt")
  expat=$(sed -n 's/^expat //p' "$deps/.ledgerly-deps")
  unzip -p "$zip" "$top/LICENSES.txt" | grep -q "^  Expat  *$expat (" ||
    fail "LICENSES.txt in $zip does not name Expat $expat, the one built"
}

# The Windows archives: stage 10's (packed again here when it is missing or
# older than the program) and the release command's when it is there.
checked=0
windows=build/windows
if [ -e "$windows/CPackConfig.cmake" ] && [ -e "$windows/gui/Ledgerly.exe" ]; then
  zips=("$windows"/Ledgerly-*-win64.zip)
  if [ ! -e "${zips[0]}" ] || [ "$windows/gui/Ledgerly.exe" -nt "${zips[0]}" ]; then
    (cd "$windows" && cpack -G ZIP >/dev/null)
    zips=("$windows"/Ledgerly-*-win64.zip)
  fi
  check_zip "${zips[0]}"
  checked=1
fi
for zip in build/windows-release/Ledgerly-*-win64.zip; do
  [ -e "$zip" ] || continue
  check_zip "$zip"
  checked=1
done
[ "$checked" = 1 ] || echo "No Windows build in $windows: no archive is checked."

if [ "$failures" -ne 0 ]; then
  echo "$failures package check(s) failed" >&2
  exit 1
fi
echo "The package installs, converts, shows its manual page and uninstalls."
