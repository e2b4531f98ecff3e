#!/usr/bin/env bash
# `cmake --install` into a scratch prefix, used as a packager and a library
# user would: the programs, the patch bank (found by the installed `tune`),
# man pages, the bash completion of `tune`; and a small program built against
# the installed library through pkg-config, and again through the CMake
# package, renders a tune to the very samples `tune render` writes.

bin=${ORB_BINARY_DIR:-build}
src=${ORB_SOURCE_DIR:-.}
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
tmp=$orb_tmp
orb_need cmake pkg-config c++ python3 "$bin/tools/tune"

prefix=$tmp/prefix
cmake --install "$bin" --prefix "$prefix" >"$tmp/install.log" 2>&1 ||
  { cat "$tmp/install.log" >&2; fail "cmake --install failed"; }
tune=$prefix/bin/tune
libdir=$(dirname "$(find "$prefix" -name orb2k16.pc)")
libdir=${libdir%/pkgconfig}
for f in bin/tune share/orb2k16/bank/bank.patch share/man/man1/tune.1 \
  share/bash-completion/completions/tune include/orb2k16/player/playback.h \
  include/orb2k16/synth/synth.h include/orb2k16/audio/audio_stream.h; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done
for f in liborb2k16-synth.a liborb2k16-audio.a liborb2k16-player.a cmake/orb2k16/orb2k16Config.cmake; do
  [ -e "$libdir/$f" ] || fail "not installed: $libdir/$f"
done
if grep -q "^CMAKE_PROJECT_NAME:.*orb2k16" "$bin/CMakeCache.txt" && grep -q "^ORB_BUILD_APP:BOOL=ON" "$bin/CMakeCache.txt"; then
  for f in bin/orb2k16 bin/orb2k16-capture; do [ -x "$prefix/$f" ] || fail "not installed: $f"; done
  grep -q '^\.TH ORB2K16 "1"' "$prefix/share/man/man1/orb2k16.1" || fail "no man page for orb2k16"
  grep -q '^\.TH ORB2K16-CAPTURE "1"' "$prefix/share/man/man1/orb2k16-capture.1" ||
    fail "no man page for orb2k16-capture"
fi

# The installed tool is the built one and reads the installed bank.
[ "$("$tune" --version)" = "$("$bin/tools/tune" --version)" ] || fail "installed tune --version differs"
"$tune" import-midi --help | grep -qF "(default: $prefix/share/orb2k16/bank)" ||
  fail "the installed tune does not use the installed bank: $("$tune" import-midi --help | grep default)"
grep -q '^\.TH TUNE "1"' "$prefix/share/man/man1/tune.1" || fail "tune.1 is not a man page"
grep -q 'tune render' "$prefix/share/man/man1/tune.1" || fail "tune.1 lacks the commands"

# A program against the installed library.
"$tune" build --quiet "$src/assets/tune" "$tmp/demo.tune" || fail "the installed tune cannot build"
cat >"$tmp/first_second.cpp" <<'CPP'
// Renders the first second of a tune image and writes the float frames to stdout.
#include <cstdio>
#include <iterator>
#include <memory>
#include <vector>

#include "player/playback.h"
#include "player/synth_sink.h"

int main(int, char** argv) {
  FILE* in = std::fopen(argv[1], "rb");
  if (!in) return 1;
  std::vector<unsigned char> image;
  for (int c; (c = std::fgetc(in)) != EOF;) image.push_back(static_cast<unsigned char>(c));
  std::fclose(in);
  auto sink = std::make_unique<SynthSink>();
  auto pb = std::make_unique<Playback>();
  pb->player.sink = sink.get();
  if (!playTune(*pb, image.data(), image.size())) return 1;
  playFromPosition(*pb, 0);
  std::vector<float> frames(2 * kDefaultSampleRate);
  renderFrames(pb->player, frames.data(), kDefaultSampleRate);
  std::fwrite(frames.data(), sizeof(float), frames.size(), stdout);
  return 0;
}
CPP
# A sanitized build's archives need the sanitizer's run time in the program too.
sanitize=
case $(sed -n 's/^ORB_SANITIZE:STRING=//p' "$bin/CMakeCache.txt") in
  address) sanitize=-fsanitize=address,undefined ;;
  thread) sanitize=-fsanitize=thread ;;
esac
export PKG_CONFIG_PATH=$libdir/pkgconfig
flags=$(pkg-config --cflags --libs orb2k16) || fail "pkg-config does not know orb2k16"
c++ -std=c++20 -O1 $sanitize -o "$tmp/first_second" "$tmp/first_second.cpp" $flags 2>"$tmp/cc.log" ||
  { cat "$tmp/cc.log" >&2; fail "cannot build against the library through pkg-config"; }
"$tmp/first_second" "$tmp/demo.tune" >"$tmp/lib.raw" || fail "the program failed"
"$tune" render "$tmp/demo.tune" "$tmp/tool.wav" --float --exact --seconds 1 || fail "render failed"
python3 - "$tmp/tool.wav" "$tmp/lib.raw" <<'PY' || fail "the library's samples differ from tune render's"
import struct, sys
data = open(sys.argv[1], "rb").read()
pos = 12
while data[pos:pos + 4] != b"data":
    pos += 8 + struct.unpack("<I", data[pos + 4:pos + 8])[0]
size = struct.unpack("<I", data[pos + 4:pos + 8])[0]
tool, lib = data[pos + 8:pos + 8 + size], open(sys.argv[2], "rb").read()
assert len(lib) == 44100 * 8 and tool == lib, f"{len(tool)} and {len(lib)} bytes, equal: {tool == lib}"
assert any(lib), "silence"
PY

# And through the CMake package.
mkdir -p "$tmp/app"
cp "$tmp/first_second.cpp" "$tmp/app/"
cat >"$tmp/app/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(first_second CXX)
find_package(orb2k16 1.0 REQUIRED)
add_executable(first_second first_second.cpp)
target_link_libraries(first_second PRIVATE orb2k16::player)
target_compile_features(first_second PRIVATE cxx_std_20)
CMAKE
{ cmake -S "$tmp/app" -B "$tmp/app/build" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="$sanitize" &&
  cmake --build "$tmp/app/build"; } >"$tmp/app.log" 2>&1 ||
  { cat "$tmp/app.log" >&2; fail "cannot build against the library through the CMake package"; }
"$tmp/app/build/first_second" "$tmp/demo.tune" | cmp -s - "$tmp/lib.raw" ||
  fail "the CMake-built program renders other samples"
echo "PASS"
