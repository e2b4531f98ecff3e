#!/usr/bin/env bash
# `tune play SOURCE --watch` through SDL's disk audio driver, as a composer
# uses it: a two-bar loop of a tune source plays; a save with an error is
# reported as its FILE:LINE line while the tune plays on, and a good save
# (the note an octave up) is heard without a gap in the sound. Bad
# combinations of --loop, --from-bar and --watch fail with one line.

bin=${ORB_BINARY_DIR:-build}
tool=$bin/tools/tune
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
tmp=$orb_tmp
orb_need python3 "$tool"

# Four bars of 1 s (240 per minute), one sustained sine note per quarter.
write_source() {
  cat >"$tmp/src/main.tune" <<TUNE
ticks 96
patch p program=0
end
channel a 0 program=p
pattern one
  notes /4 gate=100 $1 $1 $1 $1
end
song
  tempo 240
  section s bars=4
    a one
end
TUNE
}
mkdir -p "$tmp/src"
write_source a2

expect_error() {
  local what=$1 want=$2
  shift 2
  "$tool" play "$@" >"$tmp/err.out" 2>"$tmp/err.log"
  local status=$?
  [ "$status" -eq "$want" ] || { cat "$tmp/err.log" >&2; fail "$what: exit status $status, not $want"; }
  [ "$(wc -l <"$tmp/err.log")" -eq 1 ] || { cat "$tmp/err.log" >&2; fail "$what: not one line"; }
}
expect_error "loop backwards" 2 "$tmp/src" --loop 3-2
expect_error "bar 0" 2 "$tmp/src" --from-bar 0
expect_error "loop past the end" 1 "$tmp/src" --loop 5-6
"$tool" build "$tmp/src" "$tmp/t.img" --quiet || fail "the source does not build"
expect_error "watching an image" 2 "$tmp/t.img" --watch
mkdir -p "$tmp/bad"
printf 'ticks 96\nsong\n  tempo fast\nend\n' >"$tmp/bad/main.tune"
expect_error "broken source" 1 "$tmp/bad"
grep -q "main.tune:3: " "$tmp/err.log" || { cat "$tmp/err.log" >&2; fail "error names no FILE:LINE"; }

export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$tmp/out.raw"
"$tool" play "$tmp/src" --watch --loop 1-2 --seconds 12 >"$tmp/play.out" 2>"$tmp/play.log" &
pid=$!
sleep 2
write_source 'a2 zz'
sleep 1.5
write_source a3
sleep 2.5
kill -INT "$pid"
wait "$pid"
status=$?
[ "$status" -eq 0 ] || { cat "$tmp/play.log" >&2; fail "tune play exited with $status"; }
grep -q "main.tune:6: 'zz' is not a note" "$tmp/play.log" ||
  { cat "$tmp/play.log" >&2; fail "the broken save was not reported as FILE:LINE"; }
[ "$(grep -c "main.tune:6:" "$tmp/play.log")" -eq 1 ] || fail "the error was reported more than once"
grep -q "^rebuilt" "$tmp/play.out" || { cat "$tmp/play.out" >&2; fail "the good save was not rebuilt"; }
grep -q "^stopped at" "$tmp/play.out" || { cat "$tmp/play.out" >&2; fail "not stopped by SIGINT"; }

python3 - "$tmp/out.raw" <<'PY' || fail "played audio check failed"
import math, struct, sys

RATE = 44100
data = open(sys.argv[1], 'rb').read()
frames = len(data) // 4
left = struct.unpack('<%dh' % (frames * 2), data[:frames * 4])[0::2]
first = next((i for i, s in enumerate(left) if s), None)
if first is None:
    sys.exit("nothing played")
sound = left[first:]
if len(sound) < 4 * RATE:
    sys.exit("only %.1f s of sound" % (len(sound) / RATE))
# No gap anywhere: through the loop's seams, the failed save and the good one.
block = 2048
for start in range(0, len(sound) - block, block):
    rms = math.sqrt(sum(s * s for s in sound[start:start + block]) / block)
    if rms < 500:
        sys.exit("a gap: rms %.0f at %.2f s" % (rms, start / RATE))

def pitch(part):
    rising = [i for i in range(1, len(part)) if part[i - 1] < 0 <= part[i]]
    return (len(rising) - 1) * RATE / (rising[-1] - rising[0])

before, after = pitch(sound[:RATE]), pitch(sound[-RATE:])
if abs(after / before - 2.0) > 0.05:
    sys.exit("pitch %.1f Hz before the save and %.1f Hz after: not an octave" % (before, after))
print("ok: %.1f s of sound without a gap, %.1f Hz then %.1f Hz" % (len(sound) / RATE, before, after))
PY
