#!/usr/bin/env bash
# The editors' descriptions of the plug-ins (Kdenlive, Shotcut) against the plug-ins themselves: every
# parameter a description names is one that melt lists for the plug-in, every control of the
# plug-ins' table is in the descriptions of the filter, and every slider shows the range that the
# plug-in maps its [0, 1] onto.
# usage: frei0r_host_files_test.sh FREI0R_TABLE_PROGRAM PLUGIN_FOLDER
set -uo pipefail
table=$(realpath "$1")
export FREI0R_PATH=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

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

# Each slider as the editors show it against what the plug-in says its [0, 1] maps onto
# (NAME|FROM|TO): Kdenlive shows a value times its factor, or percent of the ends its name gives;
# Shotcut's panel converts with its own origins and ends.
melt -query filter=frei0r.vortelline 2>/dev/null |
  awk '/^    title: /{sub(/^    title: /, ""); name = $0}
       /^    description: 0 \.\. 1 maps onto /{n = split($0, a, " "); print name "|" a[n - 2] "|" a[n]}' >"$work/ranges"
[ "$(wc -l <"$work/ranges")" -gt 20 ] || fail "melt lists only $(wc -l <"$work/ranges") slider ranges"
# Lines read in this shell (not a pipeline's), so that failures count.
same_range() {  # same_range WHERE < NAME|FROM|TO[|FACTOR] lines; a factor goes with percent only
  local where=$1 name from to factor known count=0
  while IFS='|' read -r name from to factor; do
    count=$((count + 1))
    [ -z "$factor" ] || [ "$factor" = 100 ] || fail "$where shows $name in percent with factor $factor"
    known=$(grep -F -- "$name|" "$work/ranges" | head -1)
    known=${known#*|}
    awk -F'|' -v from="$from" -v to="$to" '{ exit !($1 == from + 0 && $2 == to + 0) }' <<<"$known" ||
      fail "$where shows $name as $from .. $to; the plug-in maps [0, 1] onto ${known/|/ .. }"
  done
  [ "$count" -gt 20 ] || fail "$where shows only $count sliders"
}
for file in kdenlive/effects/frei0r_vortelline.xml kdenlive/generators/frei0r_vortelline_src.xml; do
  same_range "$file" < <(awk '/<parameter type="(animated|constant)"/ {
         match($0, /name="[^"]*"/); name = substr($0, RSTART + 6, RLENGTH - 7)
         match($0, /factor="[^"]*"/); factor = substr($0, RSTART + 8, RLENGTH - 9); next_is_title = 1; next }
       next_is_title && /<name>/ {
         next_is_title = 0
         if (match($0, /\(0% is [^,]*, 100% is [^)]*\)/)) {
           split(substr($0, RSTART + 7, RLENGTH - 8), ends, ", 100% is ")
           print name "|" ends[1] "|" ends[2] "|" factor
         } else print name "|0|" factor
       }' "$work/$file")
done
for entry in vortelline vortelline_generator; do
  ui=$work/shotcut/qml/filters/$entry/ui.qml
  array() { sed -n "s/^    property var $1: \[\(.*\)\]$/\1/p" "$ui" | tr -d "'" | sed 's/, /\n/g'; }
  same_range "Shotcut's $entry" < <(paste -d'|' <(array sliderProperties) <(array unitOrigins) <(array unitEnds))
done

[ "$failures" -eq 0 ] && echo "ok: the editors' descriptions name only the plug-ins' parameters, every control, and its range"
exit $((failures > 0))
