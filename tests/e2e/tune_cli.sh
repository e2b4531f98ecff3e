#!/usr/bin/env bash
# What every `tune` command shares, as a user meets it: exit status 0, 1 or 2
# (success, failure, usage), one-line errors, --help and --version; an output
# that is the same file as an input (also through a link) is refused and the
# input kept; a failed or interrupted run leaves no output and an existing
# file untouched.

bin=${ORB_BINARY_DIR:-build}
src=${ORB_SOURCE_DIR:-.}
tool=$bin/tools/tune
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
tmp=$orb_tmp
orb_need "$tool"

# Runs the tool, expecting exit status $1 and, when failing, one line on stderr.
expect() {
  local want=$1
  shift
  "$tool" "$@" >"$tmp/out.txt" 2>"$tmp/err.txt"
  local got=$?
  [ "$got" -eq "$want" ] || { cat "$tmp/err.txt" >&2; fail "tune $*: status $got, not $want"; }
  if [ "$want" -ne 0 ]; then
    [ "$(wc -l <"$tmp/err.txt")" -eq 1 ] || { cat "$tmp/err.txt" >&2; fail "tune $*: not one line"; }
  fi
}

mkdir -p "$tmp/src" "$tmp/work"
cp -r "$src/assets/tune/." "$tmp/src/"
expect 0 build --quiet "$tmp/src" "$tmp/work/t.img"
img=$tmp/work/t.img
printf 'MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\x0c\0\x90\x3c\x64\x60\x80\x3c\0\0\xff\x2f\0' >"$tmp/work/n.mid"

# Help, version, usage errors.
version=$("$tool" --version) || fail "tune --version failed"
echo "$version" | grep -Eq '^tune [0-9]+\.[0-9]+\.[0-9]+ \(.+\)$' || fail "version line '$version'"
for cmd in inspect render play build import-midi; do
  expect 0 "$cmd" --help
  grep -q "^usage: tune $cmd" "$tmp/out.txt" || fail "$cmd --help: no usage line"
  grep -q "^Exit status: 0 success" "$tmp/out.txt" || fail "$cmd --help: no exit statuses"
  expect 0 "$cmd" --version
  [ "$(cat "$tmp/out.txt")" = "$version" ] || fail "$cmd --version differs from tune --version"
  expect 2 "$cmd" --no-such-option
  grep -q "^tune $cmd: unknown option '--no-such-option'" "$tmp/err.txt" || fail "$cmd: wording"
  expect 2 "$cmd"
done
expect 2 no-such-command
expect 2
expect 2 play "$img" --from-ms -1
expect 2 render "$img" "$tmp/work/x.mp3"
grep -q "\.wav, \.flac or \.ogg" "$tmp/err.txt" || fail "no list of formats: $(cat "$tmp/err.txt")"
expect 2 render "$img" "$tmp/work/x.wav" --rate 8000
expect 2 render "$img" "$tmp/work/x.wav" --seconds 0.00001
expect 1 render "$img" "$tmp/work/x.wav" --from-ms 2000000000
expect 2 import-midi "$tmp/work/n.mid" "$tmp/work/x.tune" --patches
expect 1 play "$tmp/work/missing.tune"
expect 0 inspect "$tmp/work/n.mid"
grep -Eq "^ +1 +2 " "$tmp/out.txt" || { cat "$tmp/out.txt" >&2; fail "inspect of a MIDI file: no channel 1"; }
head -c 30 "$tmp/work/n.mid" >"$tmp/work/cut.mid"
expect 1 inspect "$tmp/work/cut.mid"
grep -q "byte offset" "$tmp/err.txt" || fail "a broken MIDI file: $(cat "$tmp/err.txt")"
rm "$tmp/work/cut.mid"

# An output that is an input is refused; the input stays as it was.
cp "$img" "$tmp/work/keep.img"
ln "$img" "$tmp/work/hard.wav"
ln -s t.img "$tmp/work/soft.wav"
expect 2 render "$img" "$img"
expect 2 render "$img" "$tmp/work/soft.wav"
grep -q "same file as the input" "$tmp/err.txt" || fail "wording of the refusal: $(cat "$tmp/err.txt")"
cmp -s "$img" "$tmp/work/keep.img" || fail "render damaged its input"
cp "$tmp/work/n.mid" "$tmp/work/keep.mid"
expect 2 import-midi "$tmp/work/n.mid" "$tmp/work/n.mid"
cmp -s "$tmp/work/n.mid" "$tmp/work/keep.mid" || fail "import-midi damaged its input"
cp "$tmp/src/main.tune" "$tmp/work/keep.tune"
expect 2 build "$tmp/src" "$tmp/src/main.tune"
cmp -s "$tmp/src/main.tune" "$tmp/work/keep.tune" || fail "build damaged its source"

# A bad source: one line naming the file and line, and no image.
mkdir -p "$tmp/bad"
printf 'patch p program=0\n  osc1 level=loud\nend\n' >"$tmp/bad/main.tune"
expect 1 build "$tmp/bad" "$tmp/work/bad.img"
grep -q "main.tune:2: osc1.level takes a number" "$tmp/err.txt" || fail "build error: $(cat "$tmp/err.txt")"
[ -e "$tmp/work/bad.img" ] && fail "a failed build left an image"

# A write that cannot happen says why; nothing is left behind.
expect 1 render "$img" "$tmp/work/no-such-folder/x.wav" --seconds 1
grep -q "No such file or directory" "$tmp/err.txt" || fail "no reason: $(cat "$tmp/err.txt")"
expect 1 build "$tmp/src" "$tmp/work"
before=$(ls -A "$tmp/work" | sort | tr '\n' ' ')

# SIGTERM during a long render: the existing file stays, no temporary remains.
echo old >"$tmp/work/out.wav"
"$tool" render "$img" "$tmp/work/out.wav" --seconds 3600 2>"$tmp/err.txt" &
pid=$!
for _ in $(seq 100); do
  ls -A "$tmp/work" | grep -q '^\.out\.wav\.' && break
  sleep 0.05
done
sleep 0.2
kill -TERM "$pid"
wait "$pid"
status=$?
[ "$status" -ne 0 ] || fail "an interrupted render exited 0"
[ "$(cat "$tmp/work/out.wav")" = old ] || fail "an interrupted render touched the existing file"
after=$(ls -A "$tmp/work" | grep -v '^out\.wav$' | sort | tr '\n' ' ')
[ "$after" = "$before" ] || fail "files left behind: '$after' (before: '$before')"

echo "PASS"
