#!/usr/bin/env bash
# Both shader texts the demo builds are valid GLSL 1.10 and 1.20 for the
# reference compiler (the demo sends them without a version directive, which
# means 1.10).
set -uo pipefail
capture=${ORB_BINARY_DIR:-build}/app/orb2k16-capture
command -v glslangValidator >/dev/null || { echo "SKIP: glslangValidator not installed"; exit 77; }
[ -x "$capture" ] || { echo "SKIP: $capture not built"; exit 77; }
tmp=$(mktemp -d "${TMPDIR:-/tmp}/orb-glsl.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$capture" --print-source vertex >"$tmp/scene.vert" || fail "no vertex text"
"$capture" --print-source fragment >"$tmp/scene.frag" || fail "no fragment text"
for version in 110 120; do
  for stage in vert frag; do
    { echo "#version $version"; cat "$tmp/scene.$stage"; } >"$tmp/v$version.$stage"
    glslangValidator "$tmp/v$version.$stage" >"$tmp/log" 2>&1 ||
      fail "$stage shader under GLSL $version: $(cat "$tmp/log")"
  done
done
# The check has teeth: a fragment text that leans on later rules is refused.
{ echo "#version 120"; echo "out vec4 colour;"; echo "void main() { colour = vec4(1u); }"; } \
  >"$tmp/bad.frag"
glslangValidator "$tmp/bad.frag" >/dev/null 2>&1 && fail "the validator accepts anything"
echo PASS
