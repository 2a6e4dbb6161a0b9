#!/usr/bin/env bash
# An installed tree, moved anywhere, works on its own: each program finds the module from its own
# folder and renders the frames the build tree does; with the installed module damaged, the error
# names the installed module rather than falling back to the build tree's.
# Usage: installed_tree_test.sh BUILD_DIR BUILT_VORTELLINE [OPENFX_TEST_HOST]
set -euo pipefail
build=$(realpath "$1")
built=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
mv "$work/prefix" "$work/moved"
installed=$work/moved/bin/vortelline
module=$(find "$work/moved/lib" -name Vortelline.so)

"$built" render --size 64x36 --frame 12 --quiet -o "$work/built.png"
"$installed" render --size 64x36 --frame 12 --quiet -o "$work/installed.png"
cmp "$work/built.png" "$work/installed.png"

QT_QPA_PLATFORM=offscreen "$work/moved/bin/vortelline-studio" --screenshot "$work/studio.png" 2>/dev/null
[ -s "$work/studio.png" ]

# The installed OpenFX bundle, found on the plug-in path as a compositor finds it, renders the
# program's frame.
openfx_host=${3:-}
openfx_plugins=$work/moved/OFX/Plugins
if [ -n "$openfx_host" ]; then
  OFX_PLUGIN_PATH=$openfx_plugins "$openfx_host" --gtest_filter='OpenFx/SameBits.*/GeneratorByte' >"$work/ofx.log" 2>&1 || {
    cat "$work/ofx.log" >&2
    exit 1
  }
fi

fails_naming_module() {
  local message
  if message=$("$@" 2>&1); then
    echo "$1 ran with a damaged installed module" >&2
    exit 1
  fi
  grep -qF "$module" <<<"$message" || {
    echo "$1: the error does not name $module: $message" >&2
    exit 1
  }
}
echo "not a module" >"$module"
fails_naming_module "$installed" params
QT_QPA_PLATFORM=offscreen fails_naming_module "$work/moved/bin/vortelline-studio" --screenshot "$work/x.png"
if [ -n "$openfx_host" ]; then
  fails_naming_module env OFX_PLUGIN_PATH="$openfx_plugins" "$openfx_host" --gtest_filter='OpenFx/SameBits.*/GeneratorByte'
fi
