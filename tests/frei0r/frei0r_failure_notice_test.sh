#!/usr/bin/env bash
# A frame the effect cannot render shows why in its corner, inside real melt and FFmpeg: the input
# (or a transparent frame) unchanged outside a small box at the bottom left, the notice's colours
# inside it; a frame that renders carries no notice.
# usage: frei0r_failure_notice_test.sh PLUGIN_FOLDER SETTINGS_FILE
set -uo pipefail
export FREI0R_PATH=$(realpath "$1")
settings=$(realpath "$2")
source "$(dirname "${BASH_SOURCE[0]}")/host_test_frame.sh"
cd "$work"
write_profile 320 180
printf 'not settings' >junk.json
colour=(color:0x3060a0ff out=0)
# melt 7.12 now and then ends at once with nothing written when the machine is busy: tried again.
melt_frame() {  # melt_frame OUTPUT ARGS...: one frame as raw RGBA
  local output=$1 attempt
  shift
  for attempt in 1 2 3; do
    timeout 60 env melt -silent -profile profile "$@" -consumer "avformat:$output" f=rawvideo vcodec=rawvideo \
      pix_fmt=rgba an=1 2>"$output.log" && [ -s "$output" ] && return 0
  done
}
ffmpeg_frame() {  # ffmpeg_frame OUTPUT FILTER_PARAMS: the filter over a blue frame
  timeout 60 ffmpeg -v error -y -f lavfi -i "color=c=0x3060a0:size=320x180:rate=24,format=rgba" -frames:v 1 \
    -vf "frei0r=filter_name=vortelline:filter_params=$2" -f rawvideo -pix_fmt rgba "$1" 2>"$1.log"
}
# notice OUTPUT BACKGROUND: "box" when OUTPUT is BACKGROUND (r,g,b,a) outside a box at the bottom
# left that holds the notice's text colour, "none" when no pixel has that colour, else what differs.
notice() {
  python3 - "$1" "$2" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
background = bytes(int(v) for v in sys.argv[2].split(','))
width, height = 320, 180
pixels = [data[i:i + 4] for i in range(0, len(data), 4)]
text = bytes((255, 214, 64, 255))
if len(pixels) != width * height:
    print('no frame'); sys.exit()
inked = [i for i, p in enumerate(pixels) if p == text]
if not inked:
    print('none'); sys.exit()
box = [(i % width, i // width) for i, p in enumerate(pixels) if p != background]
right = max(x for x, _ in box)
top = min(y for _, y in box)
# Everything that differs lies in one box in the corner, small against the frame.
inside = all(x <= right and y >= top for x, y in box)
print('box' if inside and top > height // 2 and (height - top) <= 30 else f'differs up to x {right}, from y {top}')
PY
}
check() {  # check WHAT OUTPUT BACKGROUND EXPECTED
  local found
  found=$(notice "$2" "$3")
  [ "$found" = "$4" ] && echo "ok: $1 ($found)" || fail "$1: $found, expected $4 ($(head -c 300 "$2.log"))"
}
blue=48,96,160,255
clear=0,0,0,0

melt_frame good.rgba "${colour[@]}" -attach frei0r.vortelline settings="$settings" Quality=1
check "melt filter with a settings file" good.rgba $blue none
melt_frame missing.rgba "${colour[@]}" -attach frei0r.vortelline settings="$work/missing.json"
check "melt filter with a missing settings file" missing.rgba $blue box
melt_frame junk.rgba frei0r.vortelline_src out=0 settings="$work/junk.json"
check "melt source with a file that is not settings" junk.rgba $clear box
melt_frame source.rgba frei0r.vortelline_src out=0
check "melt source" source.rgba $clear none
ffmpeg_frame ffmpeg_missing.rgba "|y|$work/missing.json"
check "ffmpeg filter with a missing settings file" ffmpeg_missing.rgba $blue box
# GPU required: a failure only on a machine without a GPU.
melt_frame gpu.rgba frei0r.vortelline_src out=0 Processing=2
if grep -q "GPU" gpu.rgba.log; then
  check "melt source requiring a GPU that is not there" gpu.rgba $clear box
else
  check "melt source on the GPU" gpu.rgba $clear none
fi

[ "$failures" -eq 0 ] && echo "ok: a notice in the frame on failure only"
exit $((failures > 0))
