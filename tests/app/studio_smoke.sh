#!/usr/bin/env bash
# Starts the real studio on a private Xvfb display, waits for its window, closes
# it as a window manager would and expects the process to end with status 0.
# With --with-vote the voting window is opened first (a click on the tool bar's
# "Voting" button), so the close must take that window along.
# Usage: studio_smoke.sh <lumacast binary> <x11_close_window binary> [--with-vote]
set -euo pipefail
studio=$1
closer=$2
with_vote=${3:-}
work=$(mktemp -d)
xvfb_pid=""
studio_pid=""
cleanup() {
  [ -n "$studio_pid" ] && kill "$studio_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display number itself and reports it on the given fd. Without -noreset
# the server resets whenever its last client leaves (the probe below, each xdotool search) and
# drops a client that connects at that moment: the studio then died with "could not connect
# to display", about once in 30 runs.
for attempt in 1 2 3; do
  exec {display_fd}<> <(:)
  Xvfb -displayfd "$display_fd" -screen 0 1920x1080x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  display_number=""
  read -r -t 15 -u "$display_fd" display_number || true
  exec {display_fd}>&-
  export DISPLAY=":$display_number"
  [ -n "$display_number" ] && xdotool getdisplaygeometry >/dev/null 2>&1 && break
  echo "display '$DISPLAY' not reachable (attempt $attempt); Xvfb said:"
  cat "$work/xvfb.log"
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
done
[ -n "$xvfb_pid" ] || { echo "no reachable X display"; exit 1; }
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work"
chmod 700 "$work"
# The public server list is asked of a loopback port where nothing listens: no test leaves the machine.
mkdir -p "$work/config/Quillfen"
printf '[General]\nSERVER_LIST_HOST=http://127.0.0.1:9\n' >"$work/config/Quillfen/LumacastPRO.ini"

QT_QPA_PLATFORM=xcb "$studio" >"$work/studio.log" 2>&1 &
studio_pid=$!
main_window=""
for _ in $(seq 100); do
  main_window=$(xdotool search --onlyvisible --name '^Lumacast PRO$' 2>/dev/null | head -n1) && [ -n "$main_window" ] && break
  kill -0 "$studio_pid" 2>/dev/null || { cat "$work/studio.log" "$work/xvfb.log"; echo "studio died"; exit 1; }
  sleep 0.1
done
[ -n "$main_window" ] || { echo "no studio window appeared"; exit 1; }

if [ "$with_vote" = "--with-vote" ]; then
  # The tool bar runs down the window's right side: Start, a gap, Zoom QR, Random Winner,
  # Voting. The button's place follows from that layout; the vote window's title proves the hit.
  eval "$(xdotool getwindowgeometry --shell "$main_window")"
  xdotool mousemove --window "$main_window" $((WIDTH - 94)) 285 click 1
  vote_window=""
  for _ in $(seq 50); do
    vote_window=$(xdotool search --onlyvisible --name '^Vote$' 2>/dev/null | head -n1) && [ -n "$vote_window" ] && break
    sleep 0.1
  done
  [ -n "$vote_window" ] || { cat "$work/studio.log"; echo "the voting window did not open"; exit 1; }
fi

"$closer" "Lumacast PRO"
for _ in $(seq 100); do
  kill -0 "$studio_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$studio_pid" 2>/dev/null; then
  echo "studio did not exit after its window was closed"
  exit 1
fi
status=0
wait "$studio_pid" || status=$?
studio_pid=""
cat "$work/studio.log"
[ "$status" -eq 0 ] || { echo "studio exited with $status"; exit 1; }
if grep -q "Timers cannot have negative intervals" "$work/studio.log"; then
  echo "the studio started a timer with a negative interval"
  exit 1
fi
echo "studio window appeared and closed cleanly"
