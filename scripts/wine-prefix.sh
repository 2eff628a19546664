#!/usr/bin/env bash
# Sourced by the scripts that run the Windows build. Prepares a Wine prefix for one run and
# keeps a wineserver running for it.
#   wine_start PREFIX   make or reuse the prefix, start wineserver, warm it up
#   wine_stop           stop that wineserver by its PID

wine_start() {
  export WINEPREFIX=$1
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: preparing prefix $WINEPREFIX (first start takes a while)"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wineserver -w
  fi
  wineserver -p -f >/dev/null 2>&1 &
  WINE_SERVER_PID=$!
  sleep 0.5
  # Without one warm-up process Wine's services keep the first test's output pipe open.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

wine_stop() {
  if [ -n "${WINE_SERVER_PID:-}" ]; then
    kill "$WINE_SERVER_PID" 2>/dev/null || true
    wait "$WINE_SERVER_PID" 2>/dev/null || true
    WINE_SERVER_PID=
  fi
}
