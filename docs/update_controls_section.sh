#!/usr/bin/env bash
# Rewrites the README's "Controls" table from the control guide (authoring/control_guide.cpp), as
# `vortelline controls --markdown` prints it. A test fails while the two disagree.
#   docs/update_controls_section.sh [path/to/vortelline]
set -euo pipefail
cd "$(dirname "$0")/.."
program=${1:-build/cli/vortelline}
begin='<!-- controls begin: docs/update_controls_section.sh writes this table -->'
end='<!-- controls end -->'
table=$(mktemp)
trap 'rm -f "$table" README.md.partial' EXIT
"$program" controls --markdown >"$table"
grep -qF "$begin" README.md && grep -qF "$end" README.md || { echo "README.md lacks the controls markers" >&2; exit 1; }
awk -v begin="$begin" -v end="$end" -v table="$table" '
  $0 == begin { print; while ((getline line < table) > 0) print line; skipping = 1; next }
  $0 == end { skipping = 0 }
  !skipping { print }' README.md >README.md.partial
mv README.md.partial README.md
