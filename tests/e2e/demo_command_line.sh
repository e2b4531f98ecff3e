#!/usr/bin/env bash
# The demo's command line, with no display at all: --help and --version answer
# and exit 0 without opening anything, any other argument is one line on
# stderr and exit status 2, and without a display the demo says so in one
# line and exits 1 instead of running unseen.
set -uo pipefail
demo=${ORB_BINARY_DIR:-build}/app/orb2k16
[ -x "$demo" ] || { echo "SKIP: $demo not built"; exit 77; }
tmp=$(mktemp -d "${TMPDIR:-/tmp}/orb-cli.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# run EXPECTED-STATUS ARGS...: no display; sets out and err.
run() {
  local expected=$1 status
  shift
  env -u DISPLAY -u WAYLAND_DISPLAY "${ORB_ENV[@]}" timeout 20 "$demo" "$@" >"$tmp/out" 2>"$tmp/err"
  status=$?
  out=$(cat "$tmp/out")
  err=$(cat "$tmp/err")
  [ "$status" = "$expected" ] || fail "'$*': exit status $status, expected $expected (stderr: $err)"
}
one_line() { [ -n "$1" ] && [ "$(printf '%s\n' "$1" | wc -l)" = 1 ]; }

# A forced X11 driver would fail at once if SDL were brought up.
ORB_ENV=(SDL_VIDEODRIVER=x11)
run 0 --version
[[ "$out" =~ ^orb2k16\ [0-9]+\.[0-9]+\.[0-9]+\ \(.+\)$ ]] || fail "--version printed '$out'"
[ -z "$err" ] || fail "--version wrote to stderr: $err"
run 0 --help
for word in Usage: --help --version "close button" "Exit status"; do
  grep -qF -- "$word" <<<"$out" || fail "--help does not mention '$word'"
done
[ -z "$err" ] || fail "--help wrote to stderr: $err"
for args in "--bogus" "file.txt" "--help --version"; do
  # shellcheck disable=SC2086
  run 2 $args
  [ -z "$out" ] || fail "'$args' wrote to stdout"
  one_line "$err" || fail "'$args': not one line on stderr: $err"
done

# No display: one line, naming the display, not the shader message.
ORB_ENV=()
run 1
[ -z "$out" ] || fail "no display: wrote to stdout"
one_line "$err" || fail "no display: not one line on stderr: $err"
grep -qi display <<<"$err" || fail "no display: the line does not say so: $err"
grep -qi shader <<<"$err" && fail "no display: blames the shaders: $err"
echo PASS
