# Shared helpers for the window end-to-end tests: a private virtual X server,
# the demo started on it, geometry queries, screenshots and pixel reads.
# Source it; every process it starts is ended on exit.
set -uo pipefail

# The window tests run the demo without its shader scene (see app/plain_main.cpp);
# tests of the picture set ORB_DEMO to the demo itself before sourcing this.
ORB_DEMO=${ORB_DEMO:-${ORB_BINARY_DIR:-build}/app/orb2k16-plain}
orb_tmp=$(mktemp -d "${TMPDIR:-/tmp}/orb-e2e.XXXXXX")
orb_xvfb_pid=
orb_demo_pid=

orb_cleanup() {
  if [ -n "$orb_demo_pid" ] && kill -0 "$orb_demo_pid" 2>/dev/null; then
    kill "$orb_demo_pid" 2>/dev/null
    wait "$orb_demo_pid" 2>/dev/null
  fi
  if [ -n "$orb_xvfb_pid" ]; then
    kill "$orb_xvfb_pid" 2>/dev/null
    wait "$orb_xvfb_pid" 2>/dev/null
  fi
  rm -rf "$orb_tmp"
}
trap orb_cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -f "$orb_tmp/demo.log" ]; then sed 's/^/  demo: /' "$orb_tmp/demo.log" >&2; fi
  exit 1
}

# Skips (exit 77) when the tools or the program are missing.
orb_require() {
  local tool
  for tool in Xvfb xdotool xwininfo import python3 "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
  done
  [ -x "$ORB_DEMO" ] || { echo "SKIP: $ORB_DEMO not built"; exit 77; }
}

# Skips (exit 77) unless each argument is an executable file or a command.
orb_need() {
  local need
  for need in "$@"; do
    [ -x "$need" ] || command -v "$need" >/dev/null || { echo "SKIP: $need not available"; exit 77; }
  done
}

# Waits up to 20 s, while the demo runs, for its "Unsupported Device?" message
# box; sets box to the box's line of `xwininfo -tree` (empty when none came).
orb_wait_box() {
  box=
  for _ in $(seq 200); do
    box=$(xwininfo -root -tree 2>/dev/null | grep '"Unsupported Device?"' | head -n1)
    [ -n "$box" ] && return 0
    orb_running || return 0
    sleep 0.1
  done
}

# Starts a virtual X server of WIDTHxHEIGHT on a free display number. It must
# not reset when its last client leaves: a reset drops a client that is
# connecting at that moment (the demo, right after a short-lived xdotool).
orb_start_x() {
  local fifo="$orb_tmp/display" n
  Xvfb -displayfd 9 -screen 0 "${1}x${2}x24" -nolisten tcp -noreset 9>"$fifo" 2>"$orb_tmp/xvfb.log" &
  orb_xvfb_pid=$!
  for _ in $(seq 100); do
    n=$(head -n1 "$fifo" 2>/dev/null)
    [ -n "$n" ] && break
    sleep 0.1
  done
  [ -n "$n" ] || fail "Xvfb did not start"
  export DISPLAY=":$n"
  # Software GL on one thread keeps parallel tests from starving each other.
  export LIBGL_ALWAYS_SOFTWARE=1 LP_NUM_THREADS=${LP_NUM_THREADS:-1}
  export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
}

# "X Y WIDTH HEIGHT" of the demo's top-level window, nothing while it is not shown.
orb_geometry() {
  local id
  id=$(xdotool search --onlyvisible --class '^orb2k16$' 2>/dev/null | head -n1)
  [ -n "$id" ] || return 0
  xwininfo -id "$id" 2>/dev/null | awk '
    /Absolute upper-left X:/ { x = $NF } /Absolute upper-left Y:/ { y = $NF }
    /^ *Width:/ { w = $NF } /^ *Height:/ { h = $NF }
    /Map State: IsViewable/ { shown = 1 }
    END { if (shown) print x, y, w, h }'
}

# Starts the demo and waits until its window is shown at full size and has
# stayed put for a moment (the opening animation is over).
orb_start_demo() {
  "$ORB_DEMO" >"$orb_tmp/demo.log" 2>&1 &
  orb_demo_pid=$!
  local last= now
  for _ in $(seq 200); do
    kill -0 "$orb_demo_pid" 2>/dev/null || fail "the demo ended during start-up"
    now=$(orb_geometry)
    if [ -n "$now" ] && [ "$now" = "$last" ] && [ "${now#* * }" = "1024 480" ]; then
      sleep 0.3
      return 0
    fi
    last=$now
    sleep 0.1
  done
  fail "no demo window appeared (last geometry: '$last')"
}

# Writes a screenshot of the whole screen as a binary PPM.
orb_shot() { import -window root -depth 8 "ppm:$1" || fail "screenshot failed"; }

# Pixel checks on a screenshot: see pixels.py.
orb_pixels() { python3 "$(dirname "${BASH_SOURCE[0]}")/pixels.py" "$@"; }

# True while the demo runs.
orb_running() { kill -0 "$orb_demo_pid" 2>/dev/null; }

# Waits up to $1 seconds for the demo to end and sets orb_exit_code; false
# while it still runs. (Not in a subshell: only this shell can wait for it.)
orb_exit_code=
orb_wait_exit() {
  local deadline=$((SECONDS + $1))
  while orb_running && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
  orb_running && return 1
  wait "$orb_demo_pid"
  orb_exit_code=$?
  orb_demo_pid=
}

# Waits until the demo's window stands at "X Y" (up to $3 seconds).
orb_wait_position() {
  local deadline=$((SECONDS + $3)) g
  while [ $SECONDS -lt $deadline ]; do
    g=$(orb_geometry)
    [ "${g% * *}" = "$1 $2" ] && return 0
    sleep 0.1
  done
  return 1
}
