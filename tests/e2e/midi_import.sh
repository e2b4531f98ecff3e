#!/usr/bin/env bash
# `tune import-midi`, and `tune render` / `tune play` taking a MIDI file
# directly: a small two-track file written here byte by byte imports with a
# one-line summary, its image shows the expected counts, renders to sound,
# plays through SDL's disk driver, and broken files fail with the byte offset
# and leave no output. When scripts/fetch-midi.sh has fetched real files
# into build-midi-files/, every one of them must import.

bin=${ORB_BINARY_DIR:-build}
src=${ORB_SOURCE_DIR:-.}
tool=$bin/tools/tune
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
tmp=$orb_tmp
orb_need python3 "$tool"

# Format 1, 96 ticks per quarter: a conductor track (tempo 120 per minute,
# a track name) and a track with a piano note, a bass note (running status)
# and a kick and a hat on the drum channel; one second long.
printf 'MThd\0\0\0\6\0\1\0\2\0\x60' >"$tmp/song.mid"
printf 'MTrk\0\0\0\x13\0\xff\x51\3\x07\xa1\x20\0\xff\3\4song\0\xff\x2f\0' >>"$tmp/song.mid"
printf 'MTrk\0\0\0\x2a' >>"$tmp/song.mid"
printf '\0\xc1\x21\0\x90\x3c\x64\0\x91\x24\x6e\0\x99\x24\x7f\0\x2a\x60' >>"$tmp/song.mid"
printf '\x81\x40\x80\x3c\0\0\x81\x24\0\0\x89\x24\0\0\x2a\0\0\xb0\x07\x50\0\xff\x2f\0' >>"$tmp/song.mid"

"$tool" import-midi "$tmp/song.mid" "$tmp/song.tune" 2>"$tmp/summary.log" ||
  { cat "$tmp/summary.log" >&2; fail "import failed"; }
[ "$(wc -l <"$tmp/summary.log")" -eq 1 ] || { cat "$tmp/summary.log" >&2; fail "summary is not one line"; }
grep -q "^imported 4 notes on 4 channels" "$tmp/summary.log" || { cat "$tmp/summary.log" >&2; fail "summary"; }
grep -q "1 other meta events" "$tmp/summary.log" || { cat "$tmp/summary.log" >&2; fail "dropped count"; }

"$tool" inspect "$tmp/song.tune" >"$tmp/inspect.txt" || fail "inspect rejects the image"
grep -q "ticks per quarter: 96" "$tmp/inspect.txt" || fail "tick division"
# The kick stays on the drum channel; the hat plays on the highest free one.
grep -Eq "^ +10 +2 +1 " "$tmp/inspect.txt" || { cat "$tmp/inspect.txt" >&2; fail "drum channel counts"; }
grep -Eq "^ +15 +2 +1 " "$tmp/inspect.txt" || { cat "$tmp/inspect.txt" >&2; fail "cymbal channel counts"; }
# Channel 1: two note records, no program, controller 7 at the general MIDI
# start level and the file's volume.
grep -Eq "^ +1 +2 +0 .* 2$" "$tmp/inspect.txt" || { cat "$tmp/inspect.txt" >&2; fail "channel 1 counts"; }

# The MIDI file renders directly; the sound lasts about the file's second.
"$tool" render "$tmp/song.mid" "$tmp/song.wav" --exact 2>"$tmp/render.log" ||
  { cat "$tmp/render.log" >&2; fail "render of the MIDI file failed"; }
python3 - "$tmp/song.wav" <<'PY' || fail "rendered sound"
import math, struct, sys, wave
w = wave.open(sys.argv[1])
n = w.getnframes()
assert w.getframerate() == 44100 and w.getnchannels() == 2, "format"
assert 44000 <= n <= 44300, f"{n} frames"
s = struct.unpack(f"<{2 * n}h", w.readframes(n))
rms = math.sqrt(sum(v * v for v in s[: 2 * 22050]) / (2 * 22050)) / 32768
assert rms > 0.02, f"first half second too quiet: {rms}"
PY

# And plays through the disk audio driver.
if SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$tmp/played.raw" timeout 20 \
  "$tool" play "$tmp/song.mid" --seconds 1 >/dev/null 2>"$tmp/play.log"; then
  [ -s "$tmp/played.raw" ] || fail "play wrote no audio"
else
  grep -qi "audio\|device\|driver" "$tmp/play.log" || { cat "$tmp/play.log" >&2; fail "play of the MIDI file"; }
fi

# Broken files (the importer's own checks are the unit test's): an error with
# the byte offset, status 1, no output file.
expect_error() {
  local what=$1 says=$2
  shift 2
  rm -f "$tmp/out.tune"
  if "$tool" import-midi "$@" "$tmp/out.tune" 2>"$tmp/err.log"; then fail "$what: exit status 0"; fi
  [ "$(wc -l <"$tmp/err.log")" -eq 1 ] || { cat "$tmp/err.log" >&2; fail "$what: not one line"; }
  grep -q -- "$says" "$tmp/err.log" || { cat "$tmp/err.log" >&2; fail "$what: says '$says'"; }
  [ ! -e "$tmp/out.tune" ] || fail "$what: an output file was written"
  ! ls -A "$tmp" | grep -q '^\.out\.tune' || fail "$what: a partial file was left"
}
head -c 60 "$tmp/song.mid" >"$tmp/cut.mid"
expect_error "cut file" "byte offset 41: chunk 'MTrk'" "$tmp/cut.mid"
expect_error "missing file" "cannot open" "$tmp/none.mid"
expect_error "bad bank" "not a folder" "$tmp/song.mid" --patches "$tmp/nowhere"
if "$tool" render "$tmp/cut.mid" "$tmp/cut.wav" 2>/dev/null; then fail "render took a cut file"; fi

# Real files, when fetched.
real=$(find "$src/build-midi-files" -iname '*.mid' 2>/dev/null | sort)
count=0
for f in $real; do
  "$tool" import-midi "$f" "$tmp/real.tune" 2>"$tmp/real.log" ||
    { cat "$tmp/real.log" >&2; fail "real file $f"; }
  "$tool" inspect "$tmp/real.tune" >/dev/null || fail "real file $f: image rejected"
  count=$((count + 1))
done
echo "imported $count fetched files"
echo "PASS"
