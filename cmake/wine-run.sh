#!/usr/bin/env bash
# wine-run.sh PREFIX PROGRAM [ARGUMENT...]: runs a Windows program under Wine
# in the Wine prefix PREFIX, without Wine's debug chatter. The prefix is made
# on first use (once, under a lock, so parallel tests can share it); windows
# are drawn with Wine's own frames so that they look and measure the same
# with or without a window manager, in Wine's own TrueType fonts (Tahoma,
# and Marlett for the title-bar buttons). The exit code is the program's.
set -euo pipefail
export WINEPREFIX="$(realpath -m "$1")"
shift
export WINEDEBUG=-all
# No Mono or Gecko installers, no menu entries or file associations on the host.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
if [ ! -e "$WINEPREFIX/.ledgerly-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -e "$WINEPREFIX/.ledgerly-ready" ]; then
    wine wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
    fonts="$WINEPREFIX/drive_c/windows/Fonts"
    if [ -d /usr/share/wine/fonts ] && [ -d "$fonts" ]; then
      cp -n /usr/share/wine/fonts/*.ttf "$fonts/" 2>/dev/null || true
    fi
    wineserver -w
    touch "$WINEPREFIX/.ledgerly-ready"
  fi
  exec 9>&-
fi
exec wine "$@"
