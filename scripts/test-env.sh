#!/usr/bin/env bash
# Runs a command inside the test environment: a private Xvfb display, a PulseAudio server
# with a null sink, and WebEngine kept off DNS. Everything started here is stopped on exit.
set -euo pipefail
run_dir=$(mktemp -d "${TMPDIR:-/tmp}/velmaric-env.XXXXXX")
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$run_dir"
}
trap cleanup EXIT INT TERM

# Xvfb picks a free display and writes its number to the descriptor.
exec 3>"$run_dir/display"
Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp -noreset >"$run_dir/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do [[ -s $run_dir/display ]] && break; sleep 0.1; done
[[ -s $run_dir/display ]] || { echo "test-env: Xvfb did not start" >&2; cat "$run_dir/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$run_dir/display")"
export QT_QPA_PLATFORM=xcb

export XDG_RUNTIME_DIR="$run_dir/runtime"
mkdir -p "$XDG_RUNTIME_DIR/pulse" && chmod 700 "$XDG_RUNTIME_DIR"
if command -v pulseaudio >/dev/null; then
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --log-target=stderr \
    --load="module-native-protocol-unix socket=$XDG_RUNTIME_DIR/pulse/native auth-anonymous=1" \
    --load="module-null-sink sink_name=velmaric_null" \
    --load="module-always-sink" >"$run_dir/pulse.log" 2>&1 &
  pids+=($!)
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
  for _ in $(seq 50); do [[ -S $XDG_RUNTIME_DIR/pulse/native ]] && break; sleep 0.1; done
fi

# Pages may only reach this machine: every other host goes to a closed local proxy port,
# so the default home page never reaches DNS. Loopback addresses bypass proxies.
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:+$QTWEBENGINE_CHROMIUM_FLAGS }--proxy-server=http://127.0.0.1:9 --disable-gpu"

"$@"
