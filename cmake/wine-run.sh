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

# make_prefix disk|memory: makes the prefix and checks that Wine finds its own
# programs. "disk": the registry must come back from disk in a new wineserver.
# "memory", the last resort where the registry cannot be saved: it stays in a
# wineserver that keeps running until "wineserver -k".
make_prefix() {
  if [ "$1" = memory ]; then mkdir -p "$WINEPREFIX" && wineserver -p || return 1; fi
  wine wineboot -i &&
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f &&
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f || return 1
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -d /usr/share/wine/fonts ] && [ -d "$fonts" ]; then
    cp -n /usr/share/wine/fonts/*.ttf "$fonts/" || true
  fi
  if [ "$1" = memory ]; then
    wine cmd /c exit 0
    return
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
  began=1 modes=(disk disk memory)
  if [ -e "$WINEPREFIX" ]; then began=0 modes=(disk memory); fi
  for mode in "${modes[@]}"; do
    [ -e "$WINEPREFIX/.ledgerly-ready" ] && break
    # Wine's processes must not inherit the lock: some outlive this script.
    if make_prefix "$mode" >"$log" 2>&1 9>&-; then
      echo "$mode" >"$WINEPREFIX/.ledgerly-ready"
      if [ "$mode" = memory ]; then
        {
          echo "wine-run.sh: Wine could not keep its registry on disk in" \
            "$WINEPREFIX; it stays in a running wineserver until 'wineserver -k'."
          tail -n 20 "$log.failed"
        } >&2
      fi
      break
    fi
    cp "$log" "$log.failed"
    wineserver -k >/dev/null 2>&1 9>&- || true
    if ((began)); then rm -rf "$WINEPREFIX"; fi
  done
  if [ ! -e "$WINEPREFIX/.ledgerly-ready" ]; then
    {
      echo "wine-run.sh: could not make a working Wine prefix in $WINEPREFIX" \
        "(set LEDGERLY_WINEPREFIX to use another place). Wine said:"
      tail -n 40 "$log.failed"
      df -h "$(dirname "$WINEPREFIX")" || true
    } >&2
    exit 1
  fi
  exec 9>&-
fi
[ "${1-}" = --prepare ] && exit 0
exec wine "$@"
