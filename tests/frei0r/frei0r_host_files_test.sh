#!/usr/bin/env bash
# The editors' descriptions of the plug-ins (Kdenlive, Shotcut) against the plug-ins themselves: every
# parameter a description names is one that melt lists for the plug-in, and every control of the
# plug-ins' table is in the descriptions of the filter.
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

[ "$failures" -eq 0 ] && echo "ok: the editors' descriptions name only the plug-ins' parameters, and every control"
exit $((failures > 0))
