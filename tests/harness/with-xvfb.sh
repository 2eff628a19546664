#!/usr/bin/env bash
# Runs a command on a display of its own: with-xvfb.sh COMMAND [ARGS...]
# Xvfb picks a free display number itself, so several of these can run at once. It is
# stopped by its PID when the command ends, also when this script is interrupted.
set -u
numbers=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x800x24 -br -nolisten tcp 3>"$numbers" 2>/dev/null &
xvfb=$!
command_pid=
stop() {
  [ -n "$command_pid" ] && kill "$command_pid" 2>/dev/null
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  rm -f "$numbers"
}
trap stop EXIT
trap 'exit 143' TERM INT HUP
for _ in $(seq 200); do
  [ -s "$numbers" ] && break
  kill -0 "$xvfb" 2>/dev/null || break
  sleep 0.05
done
display=$(head -n1 "$numbers")
if [ -z "$display" ]; then
  echo "with-xvfb: Xvfb did not start" >&2
  exit 1
fi
DISPLAY=":$display" "$@" &
command_pid=$!
wait "$command_pid"
status=$?
command_pid=
exit "$status"
