#!/usr/bin/env bash
# Runs the frei0r plug-ins inside real FFmpeg, melt and GStreamer and compares every frame, byte
# for byte, with the 8-bit PNG that `vortelline render` writes for the same frame and settings.
# usage: frei0r_hosts_test.sh VORTELLINE_PROGRAM PLUGIN_FOLDER SETTINGS_FILE
set -uo pipefail
vortelline=$(realpath "$1")
export FREI0R_PATH=$(realpath "$2")
settings=$(realpath "$3")
source "$(dirname "${BASH_SOURCE[0]}")/host_test_frame.sh"
cd "$work"

# A host that hangs fails its check instead of the whole run.
ffmpeg() { timeout 120 env ffmpeg "$@"; }
melt() { timeout 120 env melt "$@"; }
gst-launch-1.0() { timeout 120 env gst-launch-1.0 "$@"; }
same() {  # same WHAT OUTPUT EXPECTED
  if [ -s "$2" ] && cmp -s "$2" "$3"; then
    echo "ok: $1"
  else
    fail "$1: $(cmp "$2" "$3" 2>&1 | head -1)"
  fi
}
# Decodes PNG frames NAME/f00.png ... into one raw RGBA file NAME.rgba.
raw_frames() {
  ffmpeg -v error -y -i "$1/f%02d.png" -f rawvideo -pix_fmt rgba "$1.rgba"
}
mlt_profile() {  # mlt_profile RATE_NUM RATE_DEN HEIGHT
  # melt crashes on a profile without a description.
  printf '%s\n' "description=test" "frame_rate_num=$1" "frame_rate_den=$2" width=160 "height=$3" progressive=1 \
    sample_aspect_num=1 sample_aspect_den=1 display_aspect_num=16 display_aspect_den=9 colorspace=709 >"profile_$1_$3"
  echo "profile_$1_$3"
}
# melt 7.12 now and then ends at once with nothing written, or hangs, when the machine is busy;
# its own noise producer does it too. Such a run is tried again, twice at most.
melt_raw() {  # melt_raw PROFILE OUTPUT ARGS...: frames as raw RGBA, stderr in OUTPUT.log
  local profile=$1 output=$2 attempt
  shift 2
  for attempt in 1 2 3; do
    rm -f "$output"
    timeout 60 env melt -silent -profile "$profile" "$@" -consumer "avformat:$output" f=rawvideo vcodec=rawvideo \
      pix_fmt=rgba an=1 2>"$output.log" && [ -s "$output" ] && return 0
    echo "melt gave no frames (attempt $attempt): $*" >&2
  done
}

# A guest in other programs brings nothing but the C and C++ runtime (no Qt, no image libraries).
for plugin in vortelline vortelline_src; do
  needed=$(readelf -d "$FREI0R_PATH/$plugin.so" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' |
    grep -vE '^(libstdc\+\+\.so|libm\.so|libgcc_s\.so|libc\.so|ld-linux)' | tr '\n' ' ')
  [ -z "$needed" ] || fail "$plugin.so needs $needed"
done

# The plug-ins' own defaults for editing (plugin_params.h): Draft quality, and the filter's flames
# from the highlights of the clip's luma. `vortelline render` gets them with --set.
draft=(--set Quality=Draft)
luma=(--set "Emitter/Source=Layer Luma" --set "Emitter Key/Key=Threshold")
# frames_equal WHAT OUTPUT EXPECTED FRAME_BYTES: counts the frames that equal, byte for byte.
frames_equal() {
  local exact
  exact=$(python3 - "$2" "$3" "$4" <<'PY'
import sys
a, b, size = open(sys.argv[1], 'rb').read(), open(sys.argv[2], 'rb').read(), int(sys.argv[3])
print(sum(a[i:i + size] == b[i:i + size] for i in range(0, len(b), size)) if len(a) == len(b) else 0, len(b) // size)
PY
  )
  if [ "${exact% *}" = "${exact#* }" ]; then
    echo "ok: $1 (frames exact: ${exact% *} of ${exact#* })"
  else
    fail "$1: frames exact: ${exact% *} of ${exact#* }"
  fi
}
# over_within WHAT OUTPUT TOP BOTTOM CODES: OUTPUT is straight TOP over opaque BOTTOM (RGBA each),
# channel by channel within CODES code values; prints how far an add of TOP's light would be.
over_within() {
  python3 - "$@" <<'PY' || fail "$1"
import sys
what, out, top, bottom, codes = sys.argv[1], *[open(p, 'rb').read() for p in sys.argv[2:5]], float(sys.argv[5])
worst = add = 0.0
for i in range(0, len(top), 4):
    alpha = top[i + 3] / 255
    for c in range(3):
        light = top[i + c] * alpha
        worst = max(worst, abs(out[i + c] - (light + (1 - alpha) * bottom[i + c])))
        add = max(add, abs(out[i + c] - min(255.0, light + bottom[i + c])))
ok = len(out) == len(top) == len(bottom) and worst <= codes + 1e-6
print(f"{'ok' if ok else 'FAIL'}: {what}: over within {worst:.2f} code values (an add would differ by up to {add:.0f})")
sys.exit(0 if ok else 1)
PY
}

frames=24
for fps in 24 30000/1001; do
  num=${fps%/*}
  den=1
  [ "$fps" != "$num" ] && den=${fps#*/}
  tag=${num}

  # The source: defaults, and the settings file saved by the studio.
  mkdir -p "src_$tag" "look_$tag"
  "$vortelline" render -q "${draft[@]}" --size 160x90 --fps "$fps" --frames 0-23 -o "src_$tag/f##.png" 2>/dev/null
  "$vortelline" render -q "${draft[@]}" --settings "$settings" --size 160x90 --fps "$fps" --frames 0-23 \
    -o "look_$tag/f##.png" 2>/dev/null
  raw_frames "src_$tag"
  raw_frames "look_$tag"

  # FFmpeg's time unit is found without the milliseconds field.
  ffmpeg -v error -y -f lavfi -i "frei0r_src=size=160x90:framerate=$fps:filter_name=vortelline_src:filter_params=$fps" \
    -frames:v $frames -f rawvideo -pix_fmt rgba ffmpeg_src.rgba
  same "ffmpeg frei0r_src at $fps" ffmpeg_src.rgba "src_$tag.rgba"
  ffmpeg -v error -y -f lavfi \
    -i "frei0r_src=size=160x90:framerate=$fps:filter_name=vortelline_src:filter_params=$fps|y|$settings" \
    -frames:v $frames -f rawvideo -pix_fmt rgba ffmpeg_look.rgba
  same "ffmpeg frei0r_src with a settings file at $fps" ffmpeg_look.rgba "look_$tag.rgba"

  profile=$(mlt_profile "$num" "$den" 90)
  melt_raw "$profile" melt_src.rgba frei0r.vortelline_src fps="$fps" out=$((frames - 1))
  same "melt producer at $fps" melt_src.rgba "src_$tag.rgba"
  melt_raw "$profile" melt_look.rgba frei0r.vortelline_src fps="$fps" settings="$settings" out=$((frames - 1))
  same "melt producer with a settings file at $fps" melt_look.rgba "look_$tag.rgba"

  gst-launch-1.0 -q frei0r-src-vortelline fps="$fps" num-buffers=$frames \
    ! "video/x-raw,format=RGBA,width=160,height=90,framerate=$num/$den" ! filesink location=gst_src.rgba
  same "gst-launch frei0r-src at $fps" gst_src.rgba "src_$tag.rgba"

  # The filter over a clip with alpha, the effect's output alone: each frame equals `vortelline
  # render` with that frame of the clip as its input.
  mkdir -p "clip_$tag" "filter_$tag"
  ffmpeg -v error -y -f lavfi \
    -i "testsrc2=size=160x90:rate=$fps,format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='255*gt(Y,40+25*sin(X/9+N/3))'" \
    -frames:v $frames -start_number 0 "clip_$tag/f%02d.png"
  for ((frame = 0; frame < frames; ++frame)); do
    printf -v name '%02d' $frame
    "$vortelline" render -q "${draft[@]}" "${luma[@]}" --input "clip_$tag/f$name.png" --fps "$fps" --frame $frame \
      -o "filter_$tag/f$name.png" 2>/dev/null
  done
  raw_frames "filter_$tag"
  ffmpeg -v error -y -framerate "$fps" -i "clip_$tag/f%02d.png" -c:v png "clip_$tag.mov"

  # Empty fields are the parameters' defaults.
  ffmpeg -v error -y -framerate "$fps" -i "clip_$tag/f%02d.png" \
    -vf "frei0r=filter_name=vortelline:filter_params=$fps|||replace|||||||" -f rawvideo -pix_fmt rgba ffmpeg_filter.rgba
  same "ffmpeg frei0r filter at $fps, empty fields" ffmpeg_filter.rgba "filter_$tag.rgba"
  melt_raw "$profile" melt_filter.rgba "clip_$tag.mov" -attach frei0r.vortelline fps="$fps" blend=replace
  same "melt filter at $fps" melt_filter.rgba "filter_$tag.rgba"
  gst-launch-1.0 -q multifilesrc location="clip_$tag/f%02d.png" index=0 stop-index=$((frames - 1)) \
    caps="image/png,framerate=(fraction)$num/$den" ! pngdec ! frei0r-filter-vortelline fps="$fps" blend=replace \
    ! filesink location=gst_filter.rgba
  same "gst-launch frei0r-filter at $fps" gst_filter.rgba "filter_$tag.rgba"
done

# The finishing controls come after the plug-ins' own parameters: the source with glow and flicker
# (FFmpeg by position with own_values, melt by name with own values, GStreamer on [0, 1]) and the
# filter with the emitter key's levels, each frame as `vortelline render --set` writes it.
mkdir -p finish_24 key_24
"$vortelline" render -q "${draft[@]}" --set Glow/Amount=80 --set Glow/Radius=10 --set Glow/Threshold=20 \
  --set Flicker/Amount=20 --set Flicker/Tips=50 --size 160x90 --fps 24 --frames 0-23 -o "finish_24/f##.png" 2>/dev/null
raw_frames finish_24
# fps, then 40 empty fields to own_values, the 42nd field.
empty=$(printf '|%.0s' $(seq 1 41))
ffmpeg -v error -y -f lavfi \
  -i "frei0r_src=size=160x90:framerate=24:filter_name=vortelline_src:filter_params=24${empty}y|80|10|20|20||50" \
  -frames:v 24 -f rawvideo -pix_fmt rgba ffmpeg_finish.rgba
same "ffmpeg frei0r_src with glow and flicker" ffmpeg_finish.rgba finish_24.rgba
melt_raw "$(mlt_profile 24 1 90)" melt_finish.rgba frei0r.vortelline_src fps=24 own_values=1 Glow/Amount=80 \
  Glow/Radius=10 Glow/Threshold=20 Flicker/Amount=20 Flicker/Tips=50 out=23
same "melt producer with glow and flicker" melt_finish.rgba finish_24.rgba
gst-launch-1.0 -q frei0r-src-vortelline fps=24 num-buffers=24 glow-amount=0.4 glow-radius=0.2 glow-threshold=0.2 \
  flicker-amount=0.4 flicker-tips=0.5 ! "video/x-raw,format=RGBA,width=160,height=90,framerate=24/1" \
  ! filesink location=gst_finish.rgba
same "gst-launch frei0r-src with glow and flicker" gst_finish.rgba finish_24.rgba
for ((frame = 0; frame < frames; ++frame)); do
  printf -v name '%02d' $frame
  "$vortelline" render -q "${draft[@]}" "${luma[@]}" --set "Emitter Key/Key=Levels" --set "Emitter Key/Black Point=30" \
    --set "Emitter Key/White Point=70" --input "clip_24/f$name.png" --fps 24 --frame $frame -o "key_24/f$name.png" 2>/dev/null
done
raw_frames key_24
melt_raw "$(mlt_profile 24 1 90)" melt_key.rgba clip_24.mov -attach frei0r.vortelline fps=24 blend=replace \
  "Emitter Key/Key=Levels" "Emitter Key/Black Point=0.3" "Emitter Key/White Point=0.7"
same "melt filter with the emitter key's levels" melt_key.rgba key_24.rgba

# MLT (Kdenlive's engine) gives no frame rate: frame N at N / fps seconds must still be frame N.
# melt with fps=1000 shows what the time to the millisecond gave before.
size=(--size 32x18)
for rate in 24000/1001 24/1 25/1 30000/1001 30/1 50/1 60000/1001; do
  mkdir -p "rate_${rate%/*}"
  "$vortelline" render -q "${draft[@]}" "${size[@]}" --fps "$rate" --frames 0-47 -o "rate_${rate%/*}/f##.png" 2>/dev/null
  raw_frames "rate_${rate%/*}"
  printf '%s\n' "description=test" "frame_rate_num=${rate%/*}" "frame_rate_den=${rate#*/}" width=32 height=18 \
    progressive=1 sample_aspect_num=1 sample_aspect_den=1 display_aspect_num=16 display_aspect_den=9 \
    colorspace=709 >"profile_rate"
  melt_raw profile_rate melt_rate.rgba frei0r.vortelline_src out=47
  frames_equal "melt at $rate fps without fps" melt_rate.rgba "rate_${rate%/*}.rgba" $((32 * 18 * 4))
  melt_raw profile_rate melt_ms.rgba frei0r.vortelline_src out=47 fps=1000
  echo "  (the time to the millisecond: $(frames_equal x melt_ms.rgba "rate_${rate%/*}.rgba" $((32 * 18 * 4)) 2>&1 |
    sed -n 's/.*frames exact: \(.*\))*/\1/p' | tr -d ')'))"
done

profile=$(mlt_profile 24 1 90)

# GStreamer on an H.264 MP4 whose first buffer is at 2 / 24 s: the filter's frame N is the clip's.
if gst-inspect-1.0 avdec_h264 >/dev/null 2>&1; then
  ffmpeg -v error -y -f lavfi -i testsrc2=size=160x90:rate=24 -frames:v 12 -c:v libx264 -pix_fmt yuv420p clip.mp4
  decode=(filesrc location=clip.mp4 ! decodebin ! videoconvert ! video/x-raw,format=RGBA)
  gst-launch-1.0 -q "${decode[@]}" ! filesink location=mp4_clip.rgba
  gst-launch-1.0 -q "${decode[@]}" ! frei0r-filter-vortelline blend=replace ! filesink location=gst_mp4.rgba
  mkdir -p mp4_clip mp4_filter
  ffmpeg -v error -y -f rawvideo -pix_fmt rgba -s 160x90 -i mp4_clip.rgba -start_number 0 "mp4_clip/f%02d.png"
  for ((frame = 0; frame < 12; ++frame)); do
    printf -v name '%02d' $frame
    "$vortelline" render -q "${draft[@]}" "${luma[@]}" --input "mp4_clip/f$name.png" --fps 24 --frame $frame \
      -o "mp4_filter/f$name.png" 2>/dev/null
  done
  raw_frames mp4_filter
  frames_equal "gst-launch filter on an MP4 starting at 0.083 s" gst_mp4.rgba mp4_filter.rgba $((160 * 90 * 4))
else
  fail "gst-launch-1.0 has no avdec_h264 (gstreamer1.0-libav) to decode an MP4"
fi

# Alpha from the light: over black it is the effect's own frame, over a picture the light plus what
# its alpha leaves of the picture; a look whose output has alpha keeps it.
mkdir -p own_24
"$vortelline" render -q "${draft[@]}" --alpha effect --size 160x90 --fps 24 --frames 0-23 -o "own_24/f##.png" 2>/dev/null
raw_frames own_24
ffmpeg -v error -y -f lavfi -i "color=black:size=160x90:rate=24,format=rgba" -frames:v 24 -f rawvideo black.rgba
ffmpeg -v error -y -f rawvideo -pix_fmt rgba -s 160x90 -r 24 -i black.rgba -f rawvideo -pix_fmt rgba -s 160x90 -r 24 \
  -i src_24.rgba -filter_complex "[0][1]overlay=format=rgb" -f rawvideo -pix_fmt rgba over_black.rgba
over_within "ffmpeg overlay of the source over black" over_black.rgba src_24.rgba black.rgba 1
python3 - over_black.rgba own_24.rgba <<'PY' || fail "over black differs from the effect's own frame"
import sys
a, b = (open(p, 'rb').read() for p in sys.argv[1:])
worst = max(abs(a[i] - b[i]) for i in range(len(a)) if i % 4 != 3)
print(f"ok: over black is the effect's own frame within {worst} code values"); sys.exit(worst > 1)
PY
ffmpeg -v error -y -f lavfi -i testsrc2=size=160x90:rate=24 -frames:v 24 -f rawvideo -pix_fmt rgba picture.rgba
ffmpeg -v error -y -f rawvideo -pix_fmt rgba -s 160x90 -r 24 -i picture.rgba -f rawvideo -pix_fmt rgba -s 160x90 -r 24 \
  -i src_24.rgba -filter_complex "[0][1]overlay=format=rgb" -f rawvideo -pix_fmt rgba over_picture.rgba
over_within "ffmpeg overlay of the source over a picture" over_picture.rgba src_24.rgba picture.rgba 1
# The generator on a track above a clip, as in an editor: the clip shows through.
ffmpeg -v error -y -f rawvideo -pix_fmt rgba -s 160x90 -r 24 -i picture.rgba -c:v png picture.mov
melt_raw "$profile" melt_tracks.rgba picture.mov out=23 -track frei0r.vortelline_src out=23 \
  -transition affine a_track=0 b_track=1
over_within "melt: the source on a track above a clip" melt_tracks.rgba src_24.rgba picture.rgba 1
own=$("$vortelline" render "${draft[@]}" --size 32x18 -o own.png 2>&1)
grep -q "own output is opaque" <<<"$own" || fail "render does not say that the look's own output is opaque: $own"
own=$("$vortelline" render "${draft[@]}" --size 32x18 --alpha effect -o own.png 2>&1)
grep -q "own output is opaque" <<<"$own" && fail "render with --alpha effect still speaks of alpha from light"

# FFmpeg pads rows of other widths than multiples of 16: a message and a failure, never sheared
# frames; the README's recipe (pad, then crop) works.
for case in "854x480 frei0r_src" "2x2 frei0r_src" "152x90 frei0r"; do
  read -r dims kind <<<"$case"
  if [ "$kind" = frei0r_src ]; then
    ffmpeg -v error -y -f lavfi -i "frei0r_src=size=$dims:framerate=24:filter_name=vortelline_src:filter_params=24" \
      -frames:v 1 -f null - 2>padded.log
  else
    ffmpeg -v error -y -f lavfi -i "testsrc2=size=$dims:rate=24" -frames:v 1 \
      -vf "format=rgba,frei0r=filter_name=vortelline:filter_params=24" -f null - 2>padded.log
  fi
  status=$?
  { [ $status -ne 0 ] && [ $status -lt 128 ]; } || fail "ffmpeg $kind at $dims ended with status $status"
  grep -q "(frei0r): FFmpeg pads the rows of frames ${dims%x*} pixels wide" padded.log ||
    fail "ffmpeg $kind at $dims: no message about the width: $(head -2 padded.log)"
done
echo "ok: ffmpeg refuses widths it pads"
ffmpeg -v error -y -f lavfi -i testsrc2=size=152x90:rate=24 -frames:v 3 -start_number 0 -pix_fmt rgba \
  -vf pad=160:90 padded_%02d.png
mkdir -p padded
for frame in 0 1 2; do
  "$vortelline" render -q "${draft[@]}" "${luma[@]}" --input "padded_0$frame.png" --fps 24 --frame $frame \
    -o "padded/f0$frame.png" 2>/dev/null
done
ffmpeg -v error -y -i "padded/f%02d.png" -vf crop=152:90:0:0 -f rawvideo -pix_fmt rgba padded.rgba
ffmpeg -v error -y -f lavfi -i testsrc2=size=152x90:rate=24 -frames:v 3 \
  -vf "pad=160:90,format=rgba,frei0r=filter_name=vortelline:filter_params=24|||replace,crop=152:90:0:0" \
  -f rawvideo -pix_fmt rgba ffmpeg_padded.rgba
same "ffmpeg at 152x90 padded to 160, then cropped" ffmpeg_padded.rgba padded.rgba

# A layer look in the generator, which has no layer: one message, and the effect's own volume.
printf '{"vortelline_settings": 1, "fps": "24", "controls": {"Emitter/Source": {"keys": [[0, 2], [2, 3]]}}}\n' \
  >layer_look.json
mkdir -p layer_look
"$vortelline" render -q "${draft[@]}" --settings layer_look.json --set "Emitter/Source=Original Volume" --size 160x90 \
  --frames 0-3 -o "layer_look/f##.png" 2>/dev/null
raw_frames layer_look
melt_raw "$profile" melt_layer_look.rgba frei0r.vortelline_src settings=layer_look.json out=3
same "melt generator with a layer look: the volume" melt_layer_look.rgba layer_look.rgba
[ "$(grep -c 'no layer for Emitter/Source' melt_layer_look.rgba.log)" = 1 ] ||
  fail "melt generator with a layer look: $(grep -c 'no layer for Emitter/Source' melt_layer_look.rgba.log) messages"

# Non-square pixels: the aspect parameter is render's --pixel-aspect.
mkdir -p pal
"$vortelline" render -q "${draft[@]}" --size 160x90 --pixel-aspect 64/45 --frames 0-3 -o "pal/f##.png" 2>/dev/null
raw_frames pal
melt_raw "$profile" melt_pal.rgba frei0r.vortelline_src aspect=64/45 out=3
same "melt generator with aspect=64/45" melt_pal.rgba pal.rgba

# A keyframed slider: Density 0.2 at frame 0 to 0.9 at frame 23 is 0.1 to 0.45 on [0, 1].
mkdir -p keyed
"$vortelline" render -q "${draft[@]}" --size 160x90 --fps 24 --frames 0-23 --set "Density=0.2@0,0.9@23" \
  -o "keyed/f##.png" 2>/dev/null
raw_frames keyed
melt_raw "$profile" melt_keyed.rgba frei0r.vortelline_src fps=24 "Density=0=0.1;23=0.45" out=23
same "melt keyframed Density" melt_keyed.rgba keyed.rgba

# One instance per thread, rendering concurrently.
melt_raw "$profile" melt_parallel.rgba frei0r.vortelline_src fps=24 out=23 real_time=-2
same "melt real_time=-2" melt_parallel.rgba src_24.rgba
# Slices: MLT builds one instance at half height and calls it once per band, so each band holds
# the flames of a half-height frame (see the README).
mkdir -p half
"$vortelline" render -q "${draft[@]}" --size 160x45 --fps 24 --frames 0-23 -o "half/f##.png" 2>/dev/null
ffmpeg -v error -y -i "half/f%02d.png" -filter_complex "[0][0]vstack" -f rawvideo -pix_fmt rgba half.rgba
melt_raw "$profile" melt_sliced.rgba frei0r.vortelline_src fps=24 out=23 threads=2
same "melt threads=2: each band is a half-height frame" melt_sliced.rgba half.rgba

# Every control is listed under its name.
melt -query filter=frei0r.vortelline >melt_query.txt 2>&1
gst-inspect-1.0 frei0r-filter-vortelline >gst_inspect.txt 2>&1
# The controls are the rows of `vortelline params` whose type is a value, by their name column.
"$vortelline" params | awk 'NR == 1 { name = index($0, "Name"); type = index($0, "Type"); next }
  { kind = substr($0, type, 5); if (kind == "float" || kind == "popup" || kind == "check") {
      text = substr($0, name, type - name); sub(/ +$/, "", text); print text } }' | sort -u >controls.txt
[ "$(wc -l <controls.txt)" -ge 30 ] || fail "vortelline params listed only $(wc -l <controls.txt) controls"
while read -r control; do
  grep -qF "title: $control" melt_query.txt || fail "melt -query does not list \"$control\""
  property=$(echo "$control" | tr 'A-Z' 'a-z' | sed 's/[^a-z0-9]/-/g')
  grep -qE "^  $property *:" gst_inspect.txt || fail "gst-inspect-1.0 does not list $property for \"$control\""
done <controls.txt
for own in fps milliseconds settings blend alpha aspect; do
  grep -qF "title: $own" melt_query.txt || fail "melt -query does not list \"$own\""
  grep -qE "^  $own *:" gst_inspect.txt || fail "gst-inspect-1.0 does not list $own"
done
echo "ok: parameter lists"

# A settings file that is not one: one message naming the plug-in, transparent frames or the input
# unchanged but for the failure's notice at the bottom (up to three lines: 29 rows at 90), and no crash.
echo "not settings" >bad.json
same_above_notice() {  # same_above_notice WHAT OUTPUT EXPECTED: 160x90 frames
  if python3 - "$2" "$3" <<'PY'
import sys
a, b = open(sys.argv[1], 'rb').read(), open(sys.argv[2], 'rb').read()
size, above = 160 * 90 * 4, 160 * 61 * 4
frames = range(0, len(b), size)
sys.exit(not (len(a) == len(b) and all(a[i:i + above] == b[i:i + above] and a[i:i + size] != b[i:i + size]
                                       for i in frames)))
PY
  then
    echo "ok: $1"
  else
    fail "$1"
  fi
}
head -c $((160 * 90 * 4 * 2)) /dev/zero >empty.rgba
expect_message() {  # expect_message HOST LOG
  local count
  count=$(grep -c "^$1 (frei0r): the settings file bad.json is not used" "$2")
  [ "$count" = 1 ] || fail "$1 in $3 printed the settings message $count times: $(head -3 "$2")"
}
ffmpeg -v error -y -f lavfi -i "frei0r_src=size=160x90:framerate=24:filter_name=vortelline_src:filter_params=24|y|bad.json" \
  -frames:v 2 -f rawvideo -pix_fmt rgba bad_ffmpeg.rgba 2>bad_ffmpeg.log || fail "ffmpeg failed on a bad settings file"
same_above_notice "ffmpeg with a bad settings file: transparent" bad_ffmpeg.rgba empty.rgba
expect_message vortelline_src bad_ffmpeg.log ffmpeg
melt_raw "$profile" bad_melt.rgba "clip_24.mov" out=1 -attach frei0r.vortelline fps=24 settings=bad.json
ffmpeg -v error -y -i "clip_24/f%02d.png" -frames:v 2 -f rawvideo -pix_fmt rgba clip_two.rgba
same_above_notice "melt with a bad settings file: the input unchanged" bad_melt.rgba clip_two.rgba
expect_message vortelline bad_melt.rgba.log melt
gst-launch-1.0 -q frei0r-src-vortelline fps=24 settings=bad.json num-buffers=2 \
  ! "video/x-raw,format=RGBA,width=160,height=90,framerate=24/1" ! filesink location=bad_gst.rgba 2>bad_gst.log ||
  fail "gst-launch failed on a bad settings file"
same_above_notice "gst-launch with a bad settings file: transparent" bad_gst.rgba empty.rgba
expect_message vortelline_src bad_gst.log gst-launch

# A module that does not load: one message, and FFmpeg refuses the filter instead of crashing.
VORTELLINE_MODULE=$work/missing.so ffmpeg -v error -y -f lavfi \
  -i "frei0r_src=size=160x90:framerate=24:filter_name=vortelline_src" -frames:v 1 -f null - 2>missing.log
status=$?
{ [ $status -ne 0 ] && [ $status -lt 128 ]; } || fail "ffmpeg without the module ended with status $status"
grep -q "^vortelline_src (frei0r): cannot use the effect module $work/missing.so" missing.log ||
  fail "no message about the missing module: $(head -3 missing.log)"

if [ $failures -ne 0 ]; then
  echo "$failures checks failed" >&2
  exit 1
fi
