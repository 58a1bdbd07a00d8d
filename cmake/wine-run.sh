#!/usr/bin/env bash
# wine-run.sh PROGRAM [ARGUMENT...]: runs a Windows program under Wine without
# Wine's debug chatter; the exit code is the program's.
# wine-run.sh --prepare: only makes sure that the Wine prefix is ready.
#
# The Wine prefix is $LEDGERLY_WINEPREFIX, by default
# ${TMPDIR:-/tmp}/ledgerly-wine-UID: never the user's ~/.wine, and not inside
# the checkout, which may sit on a shared or network file system on which
# wineserver cannot save the registry (Wine then starts with an empty registry
# and finds none of its own programs). The prefix is made on first use, once,
# under a lock so that parallel tests can share it, and checked before use: a
# fresh Wine must find cmd.exe through the registry saved on disk. Windows are
# drawn with Wine's own frames so that they look and measure the same with or
# without a window manager, in Wine's own TrueType fonts (Tahoma, and Marlett
# for the title-bar buttons).
set -euo pipefail
prefix="${LEDGERLY_WINEPREFIX:-${TMPDIR:-/tmp}/ledgerly-wine-$(id -u)}"
export WINEPREFIX="$(realpath -m "$prefix")"
export WINEDEBUG=-all
# No Mono or Gecko installers, no menu entries or file associations on the host.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
log="$WINEPREFIX.log"

make_prefix() {
  wine wineboot -i &&
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f &&
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f || return 1
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -d /usr/share/wine/fonts ] && [ -d "$fonts" ]; then
    cp -n /usr/share/wine/fonts/*.ttf "$fonts/" || true
  fi
  # Stop the server so that it saves the registry, then start Wine afresh from
  # what is on disk.
  wineserver -w && wine cmd /c exit 0 && wineserver -w &&
    grep -q '"Decorated"="N"' "$WINEPREFIX/user.reg"
}

if [ ! -e "$WINEPREFIX/.ledgerly-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  # Only a prefix that this script began may be thrown away and begun again.
  [ -e "$WINEPREFIX" ] && attempt=2 || attempt=1
  while [ ! -e "$WINEPREFIX/.ledgerly-ready" ]; do
    if make_prefix >"$log" 2>&1; then
      touch "$WINEPREFIX/.ledgerly-ready"
    elif ((attempt < 2)); then
      attempt=2
      wineserver -k >/dev/null 2>&1 || true
      rm -rf "$WINEPREFIX"
    else
      {
        echo "wine-run.sh: could not make a working Wine prefix in $WINEPREFIX" \
          "(set LEDGERLY_WINEPREFIX to use another place). Wine said:"
        tail -n 40 "$log"
        df -h "$(dirname "$WINEPREFIX")" || true
      } >&2
      exit 1
    fi
  done
  exec 9>&-
fi
[ "${1-}" = --prepare ] && exit 0
exec wine "$@"
