#!/usr/bin/env bash
# The editors' generators show the controls that act on flames without a layer, and only those:
# inside real melt, every control that Kdenlive's generator dialog or Shotcut's generator entry
# shows changes the frame when moved from its default, and every one they hide leaves it the same,
# byte for byte.
# usage: frei0r_generator_controls_test.sh FREI0R_TABLE_PROGRAM PLUGIN_FOLDER
set -uo pipefail
table=$(realpath "$1")
export FREI0R_PATH=$(realpath "$2")
source "$(dirname "${BASH_SOURCE[0]}")/host_test_frame.sh"
cd "$work"
"$table" --host-files descriptions || fail "vortelline_frei0r_table --host-files"
write_profile 64 36

# Each control with a value away from the plug-ins' default (NAME|VALUE), from the table: a slider
# halfway to its end, the next choice, a checkbox flipped. Processing is where the frame is
# computed: CPU against Auto (GPU required without a GPU is a failure, which the failure test shows).
"$table" | sed -n '3,$p' | python3 -c '
import re, sys
for line in sys.stdin:
    cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
    name, kind, values, default = cells[0], cells[2], cells[3], cells[4]
    if name == "Processing":
        value = "CPU"
    elif name == "Quality":
        value = "Balanced (128)"  # the plug-ins start at Draft
    elif kind == "double":
        low, high = (float(v) for v in re.match(r"(\S+) \.\. (\S+)", values).groups())
        start = float(default.split()[0])
        value = repr((start + high) / 2 if start != high else (start + low) / 2)
    elif kind == "string":
        choices = [c.split(" ", 1)[1] for c in values.split(", ")]
        value = choices[(choices.index(default) + 1) % len(choices)]
    else:
        value = "0" if default == "on" else "1"
    print(name + "|" + value)
' >moves
[ "$(wc -l <moves)" -gt 30 ] || fail "the table lists only $(wc -l <moves) controls"

# melt 7.12 now and then ends at once with nothing written when the machine is busy: tried again.
last_frame() {  # last_frame OUTPUT ARGS...: the producer's last frame as raw RGBA
  local output=$1 attempt
  shift
  for attempt in 1 2 3; do
    rm -f "$output.all"
    timeout 60 env melt -silent -profile profile "$@" -consumer "avformat:$output.all" f=rawvideo vcodec=rawvideo \
      pix_fmt=rgba an=1 2>"$output.log" && [ -s "$output.all" ] && break
  done
  tail -c $((64 * 36 * 4)) "$output.all" >"$output"
}
# compare WHAT SHOWN_NAMES_FILE SET_BY_ENTRY RENDER_COMMAND...: each control, moved, against the
# defaults' frame; but the control that the entry itself sets, which makes it a generator.
compare() {
  local what=$1 shown=$2 entry=$3 name value changed expected enabled count=0 before=$failures
  shift 3
  last_frame base.rgba "$@"
  while IFS='|' read -r name value; do
    [ "$name" != "$entry" ] || continue
    # A glow's or flicker's other controls act only once its Amount is up: moved against that.
    case "$name" in
      Glow/Amount | Flicker/Amount) enabled=() ;;
      Glow/* | Flicker/*) enabled=("${name%%/*}/Amount=25") ;;
      *) enabled=() ;;
    esac
    if [ ${#enabled[@]} -gt 0 ]; then
      last_frame enabled.rgba "$@" "${enabled[@]}"
      last_frame moved.rgba "$@" "${enabled[@]}" "$name=$value"
      cmp -s enabled.rgba moved.rgba && changed=no || changed=yes
    else
      last_frame moved.rgba "$@" "$name=$value"
      cmp -s base.rgba moved.rgba && changed=no || changed=yes
    fi
    grep -qxF -- "$name" "$shown" && expected=yes || expected=no
    [ "$changed" = "$expected" ] || fail "$what: $name=$value changes the frame: $changed, shown: $expected"
    count=$((count + 1))
  done <moves
  [ "$failures" -gt "$before" ] ||
    echo "ok: $what: $count controls, $(wc -l <"$shown") shown, each changing the frame, the rest not"
}

kdenlive=descriptions/kdenlive/generators/frei0r_vortelline_src.xml
sed -n 's/.*<parameter type="\(animated\|constant\|list\|bool\)" name="\([^"]*\)".*/\2/p' "$kdenlive" |
  sed 's/&amp;/\&/g' | grep -vxE 'settings|alpha|aspect' >kdenlive_shown
# Frame 9: the time has moved, so that the speeds show (at frame 8, a third of a second, the
# default flicker sits on a whole cell of its noise, where every speed gives the light unchanged).
compare "Kdenlive's generator dialog" kdenlive_shown "" frei0r.vortelline_src out=9 own_values=1

shotcut=descriptions/shotcut/qml/filters/vortelline_generator/ui.qml
grep -ohE "(onValueChanged: updateFilter|onActivated: filter.set|onClicked: filter.set)\('[^']*'" "$shotcut" |
  sed "s/.*('//; s/'$//" | grep -vxE 'blend|alpha' >shotcut_shown
compare "Shotcut's generator entry" shotcut_shown Emitter/Source color:0x00000000 out=9 -attach frei0r.vortelline own_values=1 \
  "Emitter/Source=Original Volume" blend=replace

exit $((failures > 0))
