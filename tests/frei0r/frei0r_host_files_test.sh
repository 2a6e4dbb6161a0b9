#!/usr/bin/env bash
# The editors' descriptions of the plug-ins (Kdenlive, Shotcut) against the plug-ins themselves: every
# parameter a description names is one that melt lists for the plug-in, every control of the
# plug-ins' table is in the descriptions of the filter, every slider shows the range that the
# plug-in takes it in, and the colours' sliders show their units.
# usage: frei0r_host_files_test.sh FREI0R_TABLE_PROGRAM PLUGIN_FOLDER
set -uo pipefail
table=$(realpath "$1")
export FREI0R_PATH=$(realpath "$2")
source "$(dirname "${BASH_SOURCE[0]}")/host_test_frame.sh"

"$table" --host-files "$work" || fail "vortelline_frei0r_table --host-files"
# The parameter names as melt lists them (the titles of its parameters).
params() { melt -query "$1" 2>/dev/null | sed -n 's/^    title: //p' | sort -u; }
params filter=frei0r.vortelline >"$work/filter_params"
params producer=frei0r.vortelline_src >"$work/source_params"
[ -s "$work/filter_params" ] && [ -s "$work/source_params" ] || fail "melt lists no parameters of the plug-ins"
# The controls of the table, from its Markdown copy.
"$table" | sed -n '3,$s/^| \([^|]*[^ |]\) *|.*/\1/p' >"$work/controls"

check() {  # check DESCRIPTION PARAMS_FILE NAMES...
  local description=$1 known=$2 name
  shift 2
  for name in "$@"; do
    grep -qxF -- "$name" "$known" || fail "$description names \"$name\", which the plug-in does not have"
  done
}
for file in kdenlive/effects/frei0r_vortelline.xml kdenlive/generators/frei0r_vortelline_src.xml; do
  xmllint --noout "$work/$file" || fail "$file is not well-formed XML"
  known=$work/filter_params
  [[ $file == *generators* ]] && known=$work/source_params
  mapfile -t names < <(sed -n 's/.*<parameter [^>]*name="\([^"]*\)".*/\1/p' "$work/$file" | sed 's/&amp;/\&/g')
  check "$file" "$known" "${names[@]}"
done
for entry in vortelline vortelline_generator; do
  folder=$work/shotcut/qml/filters/$entry
  grep -q "mlt_service: 'frei0r.vortelline'" "$folder/meta.qml" || fail "$entry/meta.qml is not for frei0r.vortelline"
  mapfile -t names < <(grep -oh "filter.set('[^']*'" "$folder/ui.qml" | sed "s/filter.set('//; s/'$//" | sort -u)
  check "Shotcut's $entry/ui.qml" "$work/filter_params" "${names[@]}"
done
while read -r control; do
  grep -qF "name=\"$control\"" "$work/kdenlive/effects/frei0r_vortelline.xml" ||
    fail "Kdenlive's effect lacks the control $control"
  grep -qF "filter.set('$control'" "$work/shotcut/qml/filters/vortelline/ui.qml" ||
    fail "Shotcut's filter lacks the control $control"
done <"$work/controls"
[ "$(wc -l <"$work/controls")" -gt 30 ] || fail "the table lists only $(wc -l <"$work/controls") controls"

# Each slider as the editors show it against what the plug-in says (NAME|FROM|TO|OWN_FROM|OWN_TO;
# melt quotes a description with a colon in it):
# Kdenlive fixes own_values on and shows the control's own range and default, at factor 1; Shotcut's
# panel converts to the [0, 1] the plug-in maps onto with its own origins and ends.
melt -query filter=frei0r.vortelline 2>/dev/null |
  awk '/^    title: /{sub(/^    title: /, ""); name = $0}
       /^    description: "?0 \.\. 1 maps onto / {
         gsub(/[;,"]/, ""); n = split($0, a, " "); print name "|" a[7] "|" a[9] "|" a[n - 2] "|" a[n]}' >"$work/ranges"
[ "$(wc -l <"$work/ranges")" -gt 20 ] || fail "melt lists only $(wc -l <"$work/ranges") slider ranges"
range_of() { grep -F -- "$1|" "$work/ranges" | head -1; }
# Lines read in this shell (not a pipeline's), so that failures count.
for file in kdenlive/effects/frei0r_vortelline.xml kdenlive/generators/frei0r_vortelline_src.xml; do
  grep -qF '<parameter type="fixed" name="own_values" default="1"/>' "$work/$file" || fail "$file does not fix own_values on"
  count=0
  # NAME|DEFAULT|MIN|MAX|FACTOR of every slider, hidden ones with their default alone.
  while IFS='|' read -r name dephault min max factor; do
    known=$(range_of "$name")
    [ -n "$known" ] || continue
    count=$((count + 1))
    [ -z "$factor" ] || [ "$factor" = 1 ] || fail "$file shows $name times $factor"
    awk -F'|' -v d="$dephault" -v min="$min" -v max="$max" \
      '{ exit !((min == "" || (min == $4 + 0 && max == $5 + 0)) && d >= $4 && d <= $5) }' <<<"$known" ||
      fail "$file shows $name as $min .. $max from $dephault; the control's own range is $(cut -d'|' -f4,5 <<<"$known")"
  done < <(awk '/<parameter type="(animated|constant|fixed)"/ {
             out = ""
             split("name default min max factor", keys, " ")
             for (k = 1; k <= 5; k++) {
               value = ""
               if (match($0, " " keys[k] "=\"[^\"]*\"")) value = substr($0, RSTART + length(keys[k]) + 3, RLENGTH - length(keys[k]) - 4)
               out = out (k > 1 ? "|" : "") value
             }
             print out }' "$work/$file")
  [ "$count" -gt 20 ] || fail "$file has only $count sliders"
done
same_range() {  # same_range WHERE < NAME|FROM|TO lines
  local where=$1 name from to known count=0
  while IFS='|' read -r name from to; do
    count=$((count + 1))
    known=$(range_of "$name")
    known=${known#*|}
    awk -F'|' -v from="$from" -v to="$to" '{ exit !($1 == from + 0 && $2 == to + 0) }' <<<"$known" ||
      fail "$where shows $name as $from .. $to; the plug-in maps [0, 1] onto $(cut -d'|' -f1,2 <<<"$known")"
  done
  [ "$count" -gt 20 ] || fail "$where shows only $count sliders"
}
for entry in vortelline vortelline_generator; do
  ui=$work/shotcut/qml/filters/$entry/ui.qml
  array() { sed -n "s/^    property var $1: \[\(.*\)\]$/\1/p" "$ui" | tr -d "'" | sed 's/, /\n/g'; }
  same_range "Shotcut's $entry" < <(paste -d'|' <(array sliderProperties) <(array unitOrigins) <(array unitEnds))
done

# A colour's hue in degrees, its gain and opacity in percent; no other slider has a unit.
for kind in Hue Gain Opacity; do
  unit=$([ $kind = Hue ] && echo "°" || echo "%")
  [ "$(grep -c "name=\"[^\"]*/$kind\".* suffix=\"$unit\"" "$work/kdenlive/effects/frei0r_vortelline.xml")" = 3 ] ||
    fail "Kdenlive's effect does not show the three ${kind}s in $unit"
  [ "$(grep -c "suffix: qsTr(' $unit')" "$work/shotcut/qml/filters/vortelline/ui.qml")" -ge 3 ] ||
    fail "Shotcut's filter does not show the ${kind}s in $unit"
done
[ "$(grep -c ' suffix=' "$work/kdenlive/effects/frei0r_vortelline.xml")" = 9 ] || fail "Kdenlive's effect has units on other sliders"
[ "$(grep -c 'suffix: ' "$work/shotcut/qml/filters/vortelline/ui.qml")" = 9 ] || fail "Shotcut's filter has units on other sliders"

[ "$failures" -eq 0 ] && echo "ok: the editors' descriptions name only the plug-ins' parameters, every control, and its range"
exit $((failures > 0))
