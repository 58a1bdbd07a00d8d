#!/usr/bin/env bash
# Installs what building and testing Ledgerly needs on Debian 12 (run as root).
set -euo pipefail
packages=(
  g++ cmake make googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 xvfb xdotool imagemagick
  clang libclang-rt-14-dev valgrind time
  libxlsxwriter-dev libexpat1-dev libz-mingw-w64-dev dpkg-dev
  python3-openpyxl libreoffice-calc-nogui mandoc man-db unzip
)

# add_deb_src: gives apt Debian's source packages, from which
# cmake/build-mingw-deps.sh builds libxlsxwriter and Expat for Windows (Expat
# with the security suite's fixes): a deb-src entry in ledgerly-deb-src.sources
# for each suite of debian.sources that has none yet. True when it added one.
add_deb_src() {
  local lists=/etc/apt/sources.list.d have entries
  [ -r "$lists/debian.sources" ] || return 1
  # shellcheck disable=SC2016 # apt fills in $(...)
  have="$(apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE)' \
    'Created-By: Sources')"
  entries="$(deb_src_entries "$have" <"$lists/debian.sources")"
  [ -n "$entries" ] || return 1
  if [ -s "$lists/ledgerly-deb-src.sources" ]; then entries=$'\n'"$entries"; fi
  printf '%s\n' "$entries" >>"$lists/ledgerly-deb-src.sources"
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

update=0
if add_deb_src; then update=1; fi
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
export DEBIAN_FRONTEND=noninteractive
if ((update)) || ((${#missing[@]})); then
  apt-get update
fi
if ((${#missing[@]})); then
  apt-get install -y "${missing[@]}"
fi
