#!/bin/sh
# Runs one test binary in a fresh working directory with private settings and, where Xvfb is
# installed, an X display of its own, so tests running in parallel never touch the user's
# configuration, each other's files, or each other's windows and focus.
dir=$(mktemp -d "${TMPDIR:-/tmp}/velmaric-test.XXXXXX") || exit 1
xvfb=
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 143' INT TERM
mkdir -p "$dir/config" "$dir/.x"
cd "$dir" || exit 1

if command -v Xvfb >/dev/null 2>&1; then
  # Xvfb picks a free display and writes its number to the pipe; it closes the pipe unwritten
  # when it cannot start, so the read never hangs. With -noreset the last client leaving (a
  # test's xdotool poll, a suite that ended) does not reset the server as the next connects.
  mkfifo "$dir/.x/display" || exit 1
  Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp -noreset 3>"$dir/.x/display" >"$dir/.x/xvfb.log" 2>&1 &
  xvfb=$!
  read -r number <"$dir/.x/display"
  if [ -z "$number" ]; then
    echo "run-isolated: Xvfb did not start" >&2
    cat "$dir/.x/xvfb.log" >&2
    exit 1
  fi
  export DISPLAY=":$number"
  # Tests that start a tray host or move the pointer run only on a display of their own.
  export VELMARIC_OWN_DISPLAY=1
  unset WAYLAND_DISPLAY
fi

XDG_CONFIG_HOME="$dir/config" "$@"
