# Every program that the test suite and the README's commands run comes from a
# package that scripts/deps.sh installs, or from one of that package's hard
# dependencies: deps.sh installs without recommended packages, so a tool that
# is only recommended (xauth beside Xvfb) would be missing on a fresh machine.
set -uo pipefail
deps="${ORB_SOURCE_DIR:-.}/scripts/deps.sh"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
for need in dpkg-query apt-cache; do
  command -v "$need" >/dev/null || { echo "SKIP: $need not available"; exit 77; }
done

# Packages installed with their hard dependencies, by the closure apt computes.
closure() {
  apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances "$@" 2>/dev/null | grep -v '^ ' | sed 's/:.*//' | sort -u
}

# check LABEL DEPS-ARGS -- TOOL...: each installed tool's package is in the closure.
check() {
  local label=$1 args=$2 tool path owner covered
  shift 3
  covered=$(closure $(bash "$deps" --list $args)) || fail "apt-cache depends failed"
  [ -n "$covered" ] || { echo "SKIP: no package lists for apt-cache"; exit 77; }
  for tool in "$@"; do
    path=$(readlink -f "/usr/bin/$tool")
    [ -e "$path" ] || { echo "note: $tool not installed here; not checked"; continue; }
    owner=$(dpkg-query -S "$path" 2>/dev/null | head -n1 | sed 's/:.*//')
    [ -n "$owner" ] || { echo "note: $path belongs to no package; not checked"; continue; }
    grep -qx "$owner" <<<"$covered" || fail "$label: $tool ($owner) is not installed by deps.sh $args"
  done
}

check "test suite" "" -- cmake c++ cc pkg-config git Xvfb xvfb-run xauth xdotool xwininfo \
  import glslangValidator python3 clang
check "optional tools" "--optional" -- sox ffmpeg fluidsynth timidity time
echo "deps.sh covers every tool"
