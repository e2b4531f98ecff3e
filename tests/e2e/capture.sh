#!/usr/bin/env bash
# orb2k16-capture: bad arguments, stills and videos. Stills: the surface's
# size, the same picture for the same time, and the scene's landmarks where its
# geometry puts them (the camera climbs from 3.11 to 3.41 and back, period
# about 99 s: at 20 s it flies below the energy band at 3.35, which lights the
# upper half of the frame; at 70 s above it). Videos, judged by FFmpeg's own
# tools: every frame is the still of its time (lossless .mkv), the sound is the
# offline render of the same stretch sample for sample, a stretch given by
# --from or ending at the tune's end lines up too, an .mp4 has both streams and
# the stated padding for odd sizes, and Ctrl-C leaves nothing behind.
set -uo pipefail
capture=${ORB_BINARY_DIR:-build}/app/orb2k16-capture
tune=${ORB_BINARY_DIR:-build}/tools/tune
image=${ORB_BINARY_DIR:-build}/assets/tune.img
for need in "$capture" "$tune" "$image"; do
  [ -e "$need" ] || { echo "SKIP: $need not built"; exit 77; }
done
for tool in Xvfb python3; do
  command -v $tool >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
done
tmp=$(mktemp -d "${TMPDIR:-/tmp}/orb-video.XXXXXX")
xvfb_pid=
capture_pid=
cleanup() {
  [ -n "$capture_pid" ] && kill "$capture_pid" 2>/dev/null && wait "$capture_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Bad arguments: one clear line and a non-zero status before a window opens,
# and no file written. No display: anything that got as far as rendering
# would fail differently.
(
  unset DISPLAY WAYLAND_DISPLAY
  export SDL_VIDEODRIVER=none
  # refuses EXPECTED-STATUS MESSAGE-PATTERN ARGS...
  refuses() {
    local status=$1 pattern=$2
    shift 2
    "$capture" "$@" >"$tmp/out" 2>"$tmp/err"
    local got=$?
    [ "$got" = "$status" ] || fail "'$*' ended with $got, expected $status"
    grep -q -- "$pattern" "$tmp/err" || fail "'$*' said: $(cat "$tmp/err")"
    [ ! -s "$tmp/out" ] || fail "'$*' wrote to stdout"
  }
  refuses 2 "--time SECONDS is required"
  refuses 2 "not 'soon'" --time soon --out "$tmp/x.png"
  refuses 2 "unknown option '--frame'" --frame 3 --out "$tmp/x.png"
  refuses 2 "the extension picks the format, .png, .jpg or .bmp" --time 3 --out "$tmp/x.gif"
  refuses 2 "the extension picks the format, .mp4 (H.264 + AAC) or .mkv" --video "$tmp/x.avi" --fps 10
  refuses 2 "--fps needs a whole number of frames per second, 1 to 240, not '0'" --video "$tmp/x.mkv" --fps 0
  refuses 2 "in whole milliseconds, 0 to 86400, not '1.0005'" --video "$tmp/x.mkv" --fps 10 --from 1.0005
  refuses 2 "--size needs WxH, each side 1 to 8192, not '0x10'" --time 3 --out "$tmp/x.png" --size 0x10
  refuses 1 "cannot write '$tmp/missing/x.png'" --time 3 --out "$tmp/missing/x.png"
  # Without a display the tool says so, leaves no file and keeps an existing one.
  refuses 1 "no display available" --video "$tmp/x.mp4" --fps 10 --seconds 1
  [ -z "$(ls -A "$tmp" | grep -v '^out$\|^err$')" ] || fail "a failed capture left files: $(ls -A "$tmp")"
  echo keep >"$tmp/x.bmp"
  refuses 1 "no display available" --time 3 --out "$tmp/x.bmp"
  [ "$(cat "$tmp/x.bmp")" = keep ] || fail "a failed capture changed the existing file"
  # A video of the whole tune from past its end has nothing to show.
  refuses 1 "past the tune's end" --video "$tmp/x.mkv" --fps 10 --from 86400

  "$capture" --help | grep -q "usage: orb2k16-capture --time SECONDS --out FILE" || fail "--help"
  "$capture" --version | grep -Eqx "orb2k16-capture [0-9]+\.[0-9]+\.[0-9]+ \(.+\)" ||
    fail "--version said: $("$capture" --version)"
) || exit 1

Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp -noreset 9>"$tmp/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$tmp/display")"
export LIBGL_ALWAYS_SOFTWARE=1 LP_NUM_THREADS=${LP_NUM_THREADS:-1}

check="python3 $(dirname "$0")/capture_check.py"
shoot() { "$capture" --time "$1" --out "$2" "${@:3}" || fail "capture at $1 s failed"; }
shoot 20 "$tmp/a.bmp"
shoot 20 "$tmp/b.bmp"
shoot 70 "$tmp/c.bmp"
shoot 20 "$tmp/small.bmp" --size 320x150
cmp -s "$tmp/a.bmp" "$tmp/b.bmp" || fail "two stills at 20 s differ"
$check "$tmp/a.bmp" 1022 447 upper 100 || fail "still at 20 s"
$check "$tmp/c.bmp" 1022 447 lower 100 || fail "still at 70 s"
$check "$tmp/small.bmp" 320 150 upper 10 || fail "still at 20 s, 320x150"

for tool in ffmpeg ffprobe; do
  command -v $tool >/dev/null || { echo "PASS (stills only: $tool not installed)"; exit 0; }
done

size=160x72
# frame FILE N OUT: picture N of a video as raw RGB.
frame() {
  ffmpeg -y -v error -i "$1" -vf "select=eq(n\,$2)" -frames:v 1 -f rawvideo -pix_fmt rgb24 "$3" ||
    fail "no frame $2 in $1"
}
# still SECONDS OUT: the still at SECONDS as raw RGB.
still() {
  "$capture" --time "$1" --size $size --out "$tmp/still.png" || fail "still at $1 s"
  ffmpeg -y -v error -i "$tmp/still.png" -f rawvideo -pix_fmt rgb24 "$2" || fail "decoding the still"
}
# sound FILE OUT: the audio stream as raw 16-bit stereo.
sound() { ffmpeg -y -v error -i "$1" -map 0:a -f s16le "$2" || fail "no audio in $1"; }
# reference FROM-MS SECONDS OUT: `tune render` of the same stretch, raw.
reference() {
  "$tune" render "$image" "$tmp/ref.wav" --from-ms "$1" --seconds "$2" || fail "tune render"
  ffmpeg -y -v error -i "$tmp/ref.wav" -f s16le "$3" || fail "decoding the render"
}
frames() {
  ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames \
    -of csv=p=0 "$1"
}

# One second at 10 fps: frame 5 is the still at 0.5 s, frame 4 is not.
"$capture" --video "$tmp/a.mkv" --fps 10 --seconds 1 --size $size 2>"$tmp/err" ||
  fail "mkv capture: $(cat "$tmp/err")"
[ ! -s "$tmp/err" ] || fail "mkv capture said: $(cat "$tmp/err")"
[ "$(frames "$tmp/a.mkv")" = 10 ] || fail "$(frames "$tmp/a.mkv") frames, expected 10"
still 0.5 "$tmp/s05.rgb"
frame "$tmp/a.mkv" 5 "$tmp/f5.rgb"
frame "$tmp/a.mkv" 4 "$tmp/f4.rgb"
cmp -s "$tmp/f5.rgb" "$tmp/s05.rgb" || fail "frame 5 differs from the still at 0.5 s"
cmp -s "$tmp/f4.rgb" "$tmp/s05.rgb" && fail "frame 4 equals the still at 0.5 s"
sound "$tmp/a.mkv" "$tmp/a.raw"
reference 0 1 "$tmp/r.raw"
cmp "$tmp/a.raw" "$tmp/r.raw" || fail "the sound differs from tune render --from-ms 0 --seconds 1"
python3 -c "import array,sys; a=array.array('h',open(sys.argv[1],'rb').read()); \
sys.exit(max(map(abs,a)) < 100)" "$tmp/a.raw" || fail "the sound is silent"

# From 2.5 s: picture and sound both start there.
"$capture" --video "$tmp/b.mkv" --fps 10 --from 2.5 --seconds 0.3 --size $size ||
  fail "capture from 2.5 s"
[ "$(frames "$tmp/b.mkv")" = 3 ] || fail "$(frames "$tmp/b.mkv") frames from 2.5 s, expected 3"
still 2.5 "$tmp/s25.rgb"
frame "$tmp/b.mkv" 0 "$tmp/b0.rgb"
cmp -s "$tmp/b0.rgb" "$tmp/s25.rgb" || fail "frame 0 from 2.5 s differs from the still at 2.5 s"
sound "$tmp/b.mkv" "$tmp/b.raw"
reference 2500 0.3 "$tmp/r.raw"
cmp "$tmp/b.raw" "$tmp/r.raw" || fail "the sound from 2.5 s differs from tune render"

# Without --seconds the video ends with the tune: its sound is every frame
# from the start to the last tick, under pictures that cover it.
read -r _ end_frames end_ms < <("$tune" inspect "$image" --events | tail -n1)
from_ms=$((end_ms - 250))
"$capture" --video "$tmp/c.mkv" --fps 8 --from "$((from_ms / 1000)).$(printf %03d $((from_ms % 1000)))" \
  --size 16x8 || fail "capture to the tune's end"
sound "$tmp/c.mkv" "$tmp/c.raw"
want=$((end_frames - (from_ms * 441 + 5) / 10))
[ "$(($(stat -c %s "$tmp/c.raw") / 4))" = "$want" ] ||
  fail "$(($(stat -c %s "$tmp/c.raw") / 4)) sound frames to the end, expected $want"
[ "$(frames "$tmp/c.mkv")" = $(((want * 8 + 44099) / 44100)) ] || fail "pictures to the end"

# .mp4: H.264 + AAC, an odd size padded to even, as long as the stretch.
"$capture" --video "$tmp/d.mp4" --fps 10 --seconds 1 --size 161x73 || fail "mp4 capture"
info=$(ffprobe -v error -show_entries stream=codec_name,width,height:format=duration \
  -of default=nw=1 "$tmp/d.mp4")
for want in codec_name=h264 codec_name=aac width=162 height=74; do
  grep -qx "$want" <<<"$info" || fail "mp4 lacks $want: $info"
done
duration=$(sed -n 's/^duration=//p' <<<"$info")
python3 -c "import sys; sys.exit(abs(float(sys.argv[1]) - 1.0) > 0.1)" "$duration" ||
  fail "mp4 lasts $duration s"

# Ctrl-C: the existing file stays as it was and no temporary file is left.
echo keep >"$tmp/e.mkv"
"$capture" --video "$tmp/e.mkv" --fps 10 --seconds 600 --size $size 2>"$tmp/err" &
capture_pid=$!
for _ in $(seq 100); do
  [ -n "$(find "$tmp" -name '.e.mkv.*' -size +1k)" ] && break
  sleep 0.1
done
[ -n "$(find "$tmp" -name '.e.mkv.*' -size +1k)" ] || fail "no video being written"
kill -INT "$capture_pid"
wait "$capture_pid"
status=$?
capture_pid=
[ "$status" = 1 ] || fail "interrupted capture ended with $status"
grep -q "interrupted" "$tmp/err" || fail "interrupted capture said: $(cat "$tmp/err")"
[ "$(cat "$tmp/e.mkv")" = keep ] || fail "the interrupted capture changed the existing file"
[ -z "$(find "$tmp" -name '.*.mkv.*')" ] || fail "temporary files left: $(ls -a "$tmp")"
echo PASS
