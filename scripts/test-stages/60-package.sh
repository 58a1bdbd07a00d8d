#!/usr/bin/env bash
# Packages ledgerly-convert as the Debian package "ledgerly" (the package
# preset: the converter alone, optimised, in build/package), installs it with
# apt-get, which brings the libraries the package declares, converts the
# sample log with the installed program and compares the CSV with the one the
# built program writes, checks the installed manual page, and removes the
# package again. When the Windows build is there (build/windows, stage 10),
# checks its ZIP archive too. Run as root.
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
for file in ./usr/bin/ledgerly-convert ./usr/share/man/man1/ledgerly-convert.1 \
  ./usr/share/doc/ledgerly/README.md ./usr/share/doc/ledgerly/CHANGELOG.md; do
  grep -q " $file\$" <<<"$listing" || fail "$deb does not hold $file"
done
[ "$(dpkg-deb -f "$deb" Package)" = ledgerly ] || fail "the package is not named ledgerly"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libc6' <<<"$depends" || fail "no libraries declared: Depends: $depends"
echo "Depends: $depends"

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
[[ "$version" == "${shown#ledgerly-convert }"* ]] ||
  fail "the package's version $version is not the program's: $shown"

# The manual page: where man finds it, clean to mandoc, readable by man.
page=/usr/share/man/man1/ledgerly-convert.1
[ "$(man -w ledgerly-convert)" = "$page" ] || fail "man does not find $page"
lint=$(mandoc -T lint -W warning "$page" 2>&1) || true
[ -z "$lint" ] || fail "mandoc: $lint"
MANWIDTH=80 man -l "$page" 2>"$work/man.err" | grep -q '^EXIT STATUS' ||
  fail "man -l shows no EXIT STATUS section"
[ ! -s "$work/man.err" ] || fail "man -l: $(head -n 3 "$work/man.err")"

dpkg -r ledgerly >/dev/null
[ ! -e /usr/bin/ledgerly-convert ] || fail "dpkg -r left /usr/bin/ledgerly-convert"

# The Windows archive, made by stage 10 (again here when it is missing or
# older than the program).
windows=build/windows
if [ -e "$windows/CPackConfig.cmake" ] && [ -e "$windows/gui/Ledgerly.exe" ]; then
  zips=("$windows"/Ledgerly-*-win64.zip)
  if [ ! -e "${zips[0]}" ] || [ "$windows/gui/Ledgerly.exe" -nt "${zips[0]}" ]; then
    (cd "$windows" && cpack -G ZIP >/dev/null)
    zips=("$windows"/Ledgerly-*-win64.zip)
  fi
  zip=${zips[0]}
  unzip -l "$zip"
  top=$(basename "$zip" .zip)
  expected=$(printf '%s\n' "$top/Ledgerly.exe" "$top/README.txt" "$top/examples/station-log.adi" \
    "$top/ledgerly-convert.exe" | LC_ALL=C sort)
  found=$(unzip -Z1 "$zip" | grep -v '/$' | LC_ALL=C sort)
  [ "$found" = "$expected" ] || fail "$zip holds:"$'\n'"$found"
  [ "$(unzip -p "$zip" "$top/README.txt" | head -n 1)" = $'# Ledgerly\r' ] ||
    fail "README.txt in $zip is not the README with Windows line ends"
else
  echo "No Windows build in $windows: its archive is not checked."
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures package check(s) failed" >&2
  exit 1
fi
echo "The package installs, converts, shows its manual page and uninstalls."
