#!/usr/bin/env bash
# Runs a command in a D-Bus session of its own with a Secret Service keyring, in a throwaway
# home, and stops both afterwards (the keyring daemon by its PID; dbus-run-session ends the bus).
#   keyring-session.sh COMMAND [ARGS...]
# VORNA380_KEYRING chooses what the command finds:
#   unlocked (default)  gnome-keyring-daemon with a login keyring unlocked with an empty password
#   missing             the daemon answers, but there is no keyring
#   none                no session bus at all
# Listing a GoogleTest program's tests (--gtest_list_tests) needs none of it.
set -u
for argument in "$@"; do
  [ "$argument" = --gtest_list_tests ] && exec "$@"
done

if [ "${1:-}" != --inside ]; then
  home=$(mktemp -d "${TMPDIR:-/tmp}/vorna380-keyring-XXXXXX")
  trap 'rm -rf "$home"' EXIT
  export HOME=$home/home XDG_DATA_HOME=$home/home/data XDG_CONFIG_HOME=$home/home/config
  export XDG_CACHE_HOME=$home/home/cache XDG_RUNTIME_DIR=$home/run
  mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  if [ "${VORNA380_KEYRING:-unlocked}" = none ]; then
    DBUS_SESSION_BUS_ADDRESS=unix:path=$home/no-bus "$@"
  else
    dbus-run-session -- "$0" --inside "$@"
  fi
  exit $?
fi
shift

ask_bus() {  # method argument
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    "org.freedesktop.DBus.$1" "string:$2" 2>/dev/null
}
default_keyring() {
  dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets \
    org.freedesktop.Secret.Service.ReadAlias string:default 2>/dev/null | sed -n 's/.*object path "\(.*\)"/\1/p'
}

if [ "${VORNA380_KEYRING:-unlocked}" = missing ]; then
  gnome-keyring-daemon --foreground --components=secrets </dev/null >/dev/null 2>&1 &
else
  echo "" | gnome-keyring-daemon --foreground --components=secrets --unlock >/dev/null 2>&1 &
fi
keyring=$!
ready=0
for ((i = 0; i < 200; i++)); do
  if ask_bus NameHasOwner org.freedesktop.secrets | grep -q 'boolean true'; then
    if [ "${VORNA380_KEYRING:-unlocked}" = missing ] || [ "$(default_keyring)" != / ] && [ -n "$(default_keyring)" ]; then
      ready=1
      break
    fi
  fi
  kill -0 "$keyring" 2>/dev/null || break
  sleep 0.05
done
if [ "$ready" != 1 ]; then
  echo "keyring-session: the keyring did not start" >&2
  kill "$keyring" 2>/dev/null
  wait "$keyring" 2>/dev/null
  exit 1
fi
"$@"
status=$?
kill "$keyring" 2>/dev/null
wait "$keyring" 2>/dev/null
exit $status
