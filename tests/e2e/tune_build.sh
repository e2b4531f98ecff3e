#!/usr/bin/env bash
# `tune build` as a user meets it: a bad source gives one line naming the
# file and line, a non-zero status and no image (an older image is left as
# it was); the demo source builds, and `tune inspect` on the result shows the
# length and the per-channel counts that the build reported.

bin=${ORB_BINARY_DIR:-build}
src=${ORB_SOURCE_DIR:-.}
tool=$bin/tools/tune
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
tmp=$orb_tmp
orb_need "$tool"

# A bad value in an included patch file.
mkdir -p "$tmp/bad/patches"
printf 'include patches/p.patch\n' >"$tmp/bad/main.tune"
printf 'patch p program=0\n  osc1 level=loud\nend\n' >"$tmp/bad/patches/p.patch"
"$tool" build "$tmp/bad" "$tmp/bad.img" 2>"$tmp/err" && fail "a bad source built"
grep -q "patches/p.patch:2: osc1.level takes a number" "$tmp/err" ||
  fail "error does not name file and line: $(cat "$tmp/err")"
[ "$(wc -l <"$tmp/err")" -eq 1 ] || fail "error is not one line"
[ -e "$tmp/bad.img" ] && fail "a failed build left an image"
echo old >"$tmp/old.img"
"$tool" build "$tmp/bad" "$tmp/old.img" 2>/dev/null && fail "a bad source built"
[ "$(cat "$tmp/old.img")" = old ] || fail "a failed build touched the existing image"
ls -A "$tmp" | grep -q '^\.' && fail "a failed build left a partial file"

# Usage errors.
"$tool" build 2>/dev/null && fail "build without arguments succeeded"
"$tool" build --help | grep -q "usage: tune build" || fail "no help"

# The demo source.
"$tool" build "$src/assets/tune" "$tmp/demo.img" >"$tmp/summary" || fail "the demo source failed to build"
"$tool" inspect "$tmp/demo.img" >"$tmp/inspect" || fail "tune inspect rejected the built image"
notes=$(sed -n 's/.* \([0-9]*\) note records on \([0-9]*\) channels.*/\1 \2/p' "$tmp/summary")
[ -n "$notes" ] || fail "no summary: $(cat "$tmp/summary")"
set -- $notes
counted=$(awk '/^channels:/{on=1; next} on && /^ *ch /{next} on && /^ *[0-9]+ /{n+=$2; c++} on && !/^ *[0-9]+ /{on=0} END{print n, c}' "$tmp/inspect")
[ "$counted" = "$1 $2" ] || fail "inspect counts '$counted' differ from the build's '$1 $2'"
ticks=$(sed -n 's/.*, \([0-9]*\) ticks, .*/\1/p' "$tmp/summary")
grep -q "length: *$ticks ticks; last tick $ticks," "$tmp/inspect" || fail "the tune does not end on its last tick"
echo "ok: $1 notes on $2 channels, $ticks ticks"
