#!/usr/bin/env bash
# install-deps.sh [--windows | --tests] [--check]: installs on Debian 12 (as
# root) what Ledgerly needs, in layers:
#   (none)      building and running the converter and packing its .deb;
#   --windows   that and building the Windows programs (MinGW-w64, and apt's
#               source packages for cmake/build-mingw-deps.sh);
#   --tests     all of that and what the tests need (googletest, Wine, Xvfb,
#               Clang, Valgrind, LibreOffice, openpyxl, lintian...).
# With --check it installs nothing: it lists the packages of the layer that
# are missing and exits 1 when there are any. A second run does nothing.
set -euo pipefail
converter=(g++ cmake make libxlsxwriter-dev zlib1g-dev libexpat1-dev dpkg-dev file)
windows=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev)
tests=(
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  wine wine64 xvfb xdotool imagemagick clang libclang-rt-14-dev valgrind time strace
  python3-openpyxl libreoffice-calc-nogui mandoc man-db unzip lintian
)

# missing_deb_src: prints what gives apt Debian's source packages, from which
# cmake/build-mingw-deps.sh builds libxlsxwriter and Expat for Windows (Expat
# with the security suite's fixes): a deb-src entry for each suite of
# debian.sources that has none yet; nothing when every suite has one (or
# there is no debian.sources).
missing_deb_src() {
  local lists=/etc/apt/sources.list.d have
  [ -r "$lists/debian.sources" ] || return 0
  # shellcheck disable=SC2016 # apt fills in $(...)
  have="$(apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE)' \
    'Created-By: Sources')"
  deb_src_entries "$have" <"$lists/debian.sources"
}

# add_deb_src ENTRIES: appends them to ledgerly-deb-src.sources.
add_deb_src() {
  local file=/etc/apt/sources.list.d/ledgerly-deb-src.sources entries="$1"
  if [ -s "$file" ]; then entries=$'\n'"$entries"; fi
  printf '%s\n' "$entries" >>"$file"
}

# deb_src_entries HAVE <DEB822: the deb822 stanzas of standard input that give
# binary packages again as deb-src, with only the suites whose "URI/ SUITE"
# is not a line of HAVE.
deb_src_entries() {
  awk -v have="$1" '
    BEGIN { n = split(have, lines, "\n"); for (i = 1; i <= n; i++) known[lines[i]] = 1 }
    function flush(   i, j, n, u, s, uri, missing) {
      if (types ~ /(^| )deb( |$)/ && enabled != "no" && uris != "") {
        split(uris, u, " ")
        n = split(suites, s, " ")
        for (j = 1; j <= n; j++)
          for (i = 1; i in u; i++) {
            uri = u[i]; sub(/\/*$/, "/", uri)
            if (!((uri " " s[j]) in known)) { missing = missing " " s[j]; break }
          }
        if (missing != "") {
          if (printed++) print ""
          printf "Types: deb-src\nURIs: %s\nSuites:%s\n%s", uris, missing, rest
        }
      }
      types = uris = suites = rest = enabled = key = ""
    }
    /^#/ { next }
    /^[ \t]*$/ { flush(); next }
    /^[ \t]/ { if (key != "types" && key != "uris" && key != "suites") rest = rest $0 "\n"; next }
    {
      key = tolower(substr($0, 1, index($0, ":") - 1))
      value = substr($0, index($0, ":") + 1); gsub(/^[ \t]+|[ \t]+$/, "", value)
      if (key == "types") types = value
      else if (key == "uris") uris = value
      else if (key == "suites") suites = value
      else { if (key == "enabled") enabled = tolower(value); rest = rest $0 "\n" }
    }
    END { flush() }'
}

layer=converter check=0
for argument in "$@"; do
  case "$argument" in
  --windows | --tests) layer=${argument#--} ;;
  --check) check=1 ;;
  *)
    echo "usage: $0 [--windows | --tests] [--check]" >&2
    exit 2
    ;;
  esac
done
packages=("${converter[@]}")
case "$layer" in
windows) packages+=("${windows[@]}") ;;
tests) packages+=("${windows[@]}" "${tests[@]}") ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
sources=""
if [ "$layer" != converter ]; then sources="$(missing_deb_src)"; fi
if ((check)); then
  if [ -n "$sources" ]; then missing+=("(deb-src entries)"); fi
  if ((${#missing[@]})); then
    echo "missing: ${missing[*]}"
    exit 1
  fi
  exit 0
fi

update=0
if [ -n "$sources" ]; then
  add_deb_src "$sources"
  update=1
fi
export DEBIAN_FRONTEND=noninteractive
if ((update)) || ((${#missing[@]})); then
  apt-get update
fi
if ((${#missing[@]})); then
  apt-get install -y "${missing[@]}"
fi
