#!/usr/bin/env bash
# Sourced by the scripts that run the Windows builds.
#   wine_detect             sets WINE32_WORKS=1 or 0 and WINE_FLAVOURS, prints one line
#   wine_start win32|win64  makes or reuses that flavour's prefix, starts a wineserver for it
#                           and warms it up
#   wine_stop_all           stops every prefix started here, cleanly, and checks none is left
# VORNA380_WINE64_ONLY=1 takes the 64-bit-only path on any host.

WINE_REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WINE_STARTED=()
WINE_KEEPERS=()

wine_detect() {
  local answer
  WINE32_WORKS=0
  if [ "${VORNA380_WINE64_ONLY:-0}" = 1 ]; then
    WINE_FLAVOURS="win64"
    echo "wine: 64-bit only (VORNA380_WINE64_ONLY=1): Windows tests run in the windows-x64 build; the i686 product is built and its format and imports checked"
    return
  fi
  answer=$(timeout 10 /usr/lib/wine/wine --version 2>&1 || true)
  case "$answer" in
    wine-*) WINE32_WORKS=1 ;;
  esac
  if [ "$WINE32_WORKS" = 1 ]; then
    WINE_FLAVOURS="win32 win64"
    echo "wine: 32-bit programs run on this host ($answer): Windows tests run in both the windows (i686) and windows-x64 builds"
  else
    WINE_FLAVOURS="win64"
    echo "wine: this host cannot run 32-bit programs (/usr/lib/wine/wine: ${answer:-no answer}): Windows tests run in the windows-x64 build under 64-bit Wine; the i686 product is built and its format and imports checked"
  fi
}

wine_prefix_of() {
  case "$1" in
    win32) echo "${VORNA380_WINEPREFIX_WIN32:-$WINE_REPO/build/windows/wineprefix}" ;;
    win64) echo "${VORNA380_WINEPREFIX_WIN64:-$WINE_REPO/build/windows-x64/wineprefix}" ;;
  esac
}

# The wineserver's socket for a prefix: server-DEV-INODE/socket in Wine's folder under /tmp
# (/tmp/.wine-UID, or /tmp/wine-XXXXXX on Debian's builds).
wine_socket_of() {
  local dev ino socket
  read -r dev ino < <(stat -c '%d %i' "$1")
  for socket in /tmp/.wine-"$(id -u)" /tmp/wine-*; do
    socket=$(printf '%s/server-%x-%x/socket' "$socket" "$dev" "$ino")
    [ -S "$socket" ] && { echo "$socket"; return 0; }
  done
  return 1
}

wine_start() {
  local arch=$1 prefix loader pid socket= i
  prefix=$(wine_prefix_of "$arch")
  loader=/usr/lib/wine/wine; [ "$arch" = win64 ] && loader=/usr/lib/wine/wine64
  (
    export WINEPREFIX=$prefix WINELOADER=$loader WINEARCH=$arch WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY
    if [ ! -f "$prefix/system.reg" ]; then
      echo "wine: preparing the $arch prefix $prefix (first start takes a while)"
      mkdir -p "$prefix"
      "$loader" wineboot -i >/dev/null 2>&1 || true
      wineserver -w
      "$loader" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
      wineserver -w
    fi
  )
  [ -f "$prefix/system.reg" ] || { echo "wine: could not prepare $prefix" >&2; return 1; }
  WINEPREFIX=$prefix wineserver -p -f >/dev/null 2>&1 &
  pid=$!
  for ((i = 0; i < 200; i++)); do
    socket=$(wine_socket_of "$prefix") && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  if [ -z "$socket" ]; then
    echo "wine: the wineserver for $prefix did not start" >&2
    return 1
  fi
  WINE_STARTED+=("$arch:$pid:$prefix")
  # Without one warm-up process Wine's services keep the first test's output pipe open.
  "$WINE_REPO/tests/harness/wine-run.sh" "$arch" cmd /c exit </dev/null >/dev/null 2>&1 || true
  # The desktop process (explorer.exe /desktop) ends about a second after the last program
  # on the desktop, and the next program to start it hands it its standard error. Started by
  # a test, it would hold that test's output pipe open for as long as other programs keep the
  # desktop busy, and ctest would wait until its time-out. One idle cmd, waiting on an input
  # that never ends, keeps the desktop (started here, on /dev/null) for the whole run.
  ( sleep 2147483647 | "$WINE_REPO/tests/harness/wine-run.sh" "$arch" cmd ) </dev/null >/dev/null 2>&1 &
  WINE_KEEPERS+=("$!")
}

# PIDs of the processes started with this prefix (read from their environment).
wine_processes_of() {
  local environ pid
  for environ in /proc/[0-9]*/environ; do
    pid=${environ#/proc/}; pid=${pid%/environ}
    [ "$pid" = "$$" ] && continue
    if { tr '\0' '\n' < "$environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$1"; then
      printf '%s ' "$pid"
    fi
  done
}

wine_stop_all() {
  local entry arch pid prefix rest left
  for pid in "${WINE_KEEPERS[@]}"; do
    pkill -KILL -P "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  WINE_KEEPERS=()
  for entry in "${WINE_STARTED[@]}"; do
    arch=${entry%%:*}; rest=${entry#*:}; pid=${rest%%:*}; prefix=${rest#*:}
    # -k ends the prefix's services too; killing only the server would leave them running.
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    left=$(wine_processes_of "$prefix")
    if [ -n "$left" ]; then
      echo "wine: processes of $prefix still running after wineserver -k, killed: $left" >&2
      kill -9 $left 2>/dev/null || true
    fi
  done
  WINE_STARTED=()
}
