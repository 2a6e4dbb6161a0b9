#!/usr/bin/env bash
# Runs the frei0r plug-ins inside real FFmpeg, melt and GStreamer and compares every frame, byte
# for byte, with the 8-bit PNG that `vortelline render` writes for the same frame and settings.
# usage: frei0r_hosts_test.sh VORTELLINE_PROGRAM PLUGIN_FOLDER SETTINGS_FILE
set -uo pipefail
vortelline=$(realpath "$1")
export FREI0R_PATH=$(realpath "$2")
settings=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

failures=0
# A host that hangs fails its check instead of the whole run.
ffmpeg() { timeout 120 env ffmpeg "$@"; }
melt() { timeout 120 env melt "$@"; }
gst-launch-1.0() { timeout 120 env gst-launch-1.0 "$@"; }
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
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

frames=24
for fps in 24 30000/1001; do
  num=${fps%/*}
  den=1
  [ "$fps" != "$num" ] && den=${fps#*/}
  tag=${num}

  # The source: defaults, and the settings file saved by the studio.
  mkdir -p "src_$tag" "look_$tag"
  "$vortelline" render -q --size 160x90 --fps "$fps" --frames 0-23 -o "src_$tag/f##.png"
  "$vortelline" render -q --settings "$settings" --size 160x90 --fps "$fps" --frames 0-23 -o "look_$tag/f##.png"
  raw_frames "src_$tag"
  raw_frames "look_$tag"

  ffmpeg -v error -y -f lavfi -i "frei0r_src=size=160x90:framerate=$fps:filter_name=vortelline_src:filter_params=$fps|y" \
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

  # The filter over a clip with alpha, Layer Alpha, the effect's output alone: each frame equals
  # `vortelline render` with that frame of the clip as its input.
  mkdir -p "clip_$tag" "filter_$tag"
  ffmpeg -v error -y -f lavfi \
    -i "testsrc2=size=160x90:rate=$fps,format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='255*gt(Y,40+25*sin(X/9+N/3))'" \
    -frames:v $frames -start_number 0 "clip_$tag/f%02d.png"
  for ((frame = 0; frame < frames; ++frame)); do
    printf -v name '%02d' $frame
    "$vortelline" render -q --input "clip_$tag/f$name.png" --set "Emitter/Source=Layer Alpha" --fps "$fps" \
      --frame $frame -o "filter_$tag/f$name.png"
  done
  raw_frames "filter_$tag"
  ffmpeg -v error -y -framerate "$fps" -i "clip_$tag/f%02d.png" -c:v png "clip_$tag.mov"

  ffmpeg -v error -y -framerate "$fps" -i "clip_$tag/f%02d.png" \
    -vf "frei0r=filter_name=vortelline:filter_params=$fps|y||replace" -f rawvideo -pix_fmt rgba ffmpeg_filter.rgba
  same "ffmpeg frei0r filter at $fps" ffmpeg_filter.rgba "filter_$tag.rgba"
  melt_raw "$profile" melt_filter.rgba "clip_$tag.mov" -attach frei0r.vortelline fps="$fps" blend=replace
  same "melt filter at $fps" melt_filter.rgba "filter_$tag.rgba"
  gst-launch-1.0 -q multifilesrc location="clip_$tag/f%02d.png" index=0 stop-index=$((frames - 1)) \
    caps="image/png,framerate=(fraction)$num/$den" ! pngdec ! frei0r-filter-vortelline fps="$fps" blend=replace \
    ! filesink location=gst_filter.rgba
  same "gst-launch frei0r-filter at $fps" gst_filter.rgba "filter_$tag.rgba"
done

profile=$(mlt_profile 24 1 90)
# A keyframed slider: Density 0.2 at frame 0 to 0.9 at frame 23 is 0.1 to 0.45 on [0, 1].
mkdir -p keyed
"$vortelline" render -q --size 160x90 --fps 24 --frames 0-23 --set "Density=0.2@0,0.9@23" -o "keyed/f##.png"
raw_frames keyed
melt_raw "$profile" melt_keyed.rgba frei0r.vortelline_src fps=24 "Density=0=0.1;23=0.45" out=23
same "melt keyframed Density" melt_keyed.rgba keyed.rgba

# One instance per thread, rendering concurrently.
melt_raw "$profile" melt_parallel.rgba frei0r.vortelline_src fps=24 out=23 real_time=-2
same "melt real_time=-2" melt_parallel.rgba src_24.rgba
# Slices: MLT builds one instance at half height and calls it once per band, so each band holds
# the flames of a half-height frame (see the README).
mkdir -p half
"$vortelline" render -q --size 160x45 --fps 24 --frames 0-23 -o "half/f##.png"
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
echo "ok: parameter lists"

# A settings file that is not one: one message naming the plug-in, transparent frames or the input
# unchanged, and no crash.
echo "not settings" >bad.json
head -c $((160 * 90 * 4 * 2)) /dev/zero >empty.rgba
expect_message() {  # expect_message HOST LOG
  local count
  count=$(grep -c "^$1 (frei0r): the settings file is not used" "$2")
  [ "$count" = 1 ] || fail "$1 in $3 printed the settings message $count times: $(head -3 "$2")"
}
ffmpeg -v error -y -f lavfi -i "frei0r_src=size=160x90:framerate=24:filter_name=vortelline_src:filter_params=24|y|bad.json" \
  -frames:v 2 -f rawvideo -pix_fmt rgba bad_ffmpeg.rgba 2>bad_ffmpeg.log || fail "ffmpeg failed on a bad settings file"
same "ffmpeg with a bad settings file: transparent" bad_ffmpeg.rgba empty.rgba
expect_message vortelline_src bad_ffmpeg.log ffmpeg
melt_raw "$profile" bad_melt.rgba "clip_24.mov" out=1 -attach frei0r.vortelline fps=24 settings=bad.json
ffmpeg -v error -y -i "clip_24/f%02d.png" -frames:v 2 -f rawvideo -pix_fmt rgba clip_two.rgba
same "melt with a bad settings file: the input unchanged" bad_melt.rgba clip_two.rgba
expect_message vortelline bad_melt.rgba.log melt
gst-launch-1.0 -q frei0r-src-vortelline fps=24 settings=bad.json num-buffers=2 \
  ! "video/x-raw,format=RGBA,width=160,height=90,framerate=24/1" ! filesink location=bad_gst.rgba 2>bad_gst.log ||
  fail "gst-launch failed on a bad settings file"
same "gst-launch with a bad settings file: transparent" bad_gst.rgba empty.rgba
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
