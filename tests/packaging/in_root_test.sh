#!/usr/bin/env bash
# Runs inside a fresh Debian root: installs the package with apt-get as a user would, uses it from
# the installed paths only (nothing of a build tree is there), then purges it and checks that none
# of its files is left. Usage: in_root_test.sh PACKAGE.deb REFERENCE_FOLDER (package_test.sh's frames)
set -euo pipefail
package=$(realpath "$1")
reference=$(realpath "$2")
work=$(mktemp -d)
cd "$work"
export QT_QPA_PLATFORM=offscreen DEBIAN_FRONTEND=noninteractive

check() {
  echo "installed package ($SECONDS s): $*"
}

# What a desktop brings for file types (the MIME database, its desktop-entry cache and GLib's gio),
# and FFmpeg to try the frei0r plug-ins.
tools=(man-db shared-mime-info desktop-file-utils libglib2.0-bin ffmpeg)
check "apt-get install $(basename "$package") ${tools[*]}"
apt-get install -y -q --no-install-recommends "$package" "${tools[@]}" >apt.log 2>&1 || {
  cat apt.log
  exit 1
}
version=$(dpkg-query -W -f '${Version}' vortelline)

check "versions"
# The package's version is the project's, with the Debian revision.
[ "$(vortelline --version)" = "vortelline ${version%-*}" ]
[ "$(vortelline-studio --version)" = "vortelline-studio ${version%-*}" ]

check "vortelline render, from the module the program finds from its own folder"
vortelline render --size 64x36 --frame 12 --quiet -o default.png
cmp default.png "$reference/default.png"

check "a movie, through the FFmpeg libraries the package depends on"
vortelline render --size 64x36 --frames 0-2 --quiet -o movie.mkv
[ "$(head -c 4 movie.mkv | od -An -tx1 | tr -d ' \n')" = 1a45dfa3 ]

check "vortelline presets and --preset, from the installed data"
grep -q '^campfire ' <<<"$(vortelline presets)"
vortelline render --size 64x36 --frame 12 --quiet --preset burning-text -o burning-text.png
cmp burning-text.png "$reference/burning-text.png"

check "vortelline-studio --screenshot"
vortelline-studio --screenshot studio.png
[ "$(head -c 8 studio.png | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ]

check "man vortelline"
# Read whole: grep -q would stop reading early, and man's broken pipe fail the check. Wide, so
# that no line is broken or justified with extra spaces.
export MANWIDTH=240
grep -q 'render procedural volumetric flames' <<<"$(man vortelline 2>/dev/null)"
grep -q 'design procedural volumetric flames' <<<"$(man vortelline-studio 2>/dev/null)"

check "a settings file is the studio's type, and a double-click opens it in the studio"
cp /usr/share/vortelline/presets/campfire.json look.json
echo '{}' >empty.vortelline.json
for file in look.json empty.vortelline.json; do
  grep -q 'content-type: application/x-vortelline-settings' <<<"$(gio info -a standard::content-type "$file")"
done
grep -q ': vortelline-studio.desktop$' <<<"$(gio mime application/x-vortelline-settings)"

check "bash completion"
completions=$(bash -c 'source /usr/share/bash-completion/completions/vortelline
  COMP_WORDS=(vortelline render --proc); COMP_CWORD=2; _vortelline; echo "${COMPREPLY[*]}"')
[ "$completions" = "--processing" ]
# A popup's choices after its name and the = that bash splits the word at.
completions=$(bash -c 'source /usr/share/bash-completion/completions/vortelline
  COMP_WORDS=(vortelline render --set Quality = Dr); COMP_CWORD=5; _vortelline; echo "${COMPREPLY[*]}"')
[ "$completions" = 'Draft\ \(64\)' ]

# Frames 0 to 12 at 24 fps, times in FFmpeg's milliseconds ("y"): frame 12 is the last 64x36x4 bytes.
check "FFmpeg frei0r_src frame, from the installed plug-in and module"
ffmpeg -v error -f lavfi -i "frei0r_src=size=64x36:framerate=24:filter_name=vortelline_src:filter_params=24|y" \
  -frames:v 13 -f rawvideo -pix_fmt rgba -y frames.rgba
tail -c $((64 * 36 * 4)) frames.rgba >ffmpeg.rgba
ffmpeg -v error -i "$reference/plugin-default.png" -f rawvideo -pix_fmt rgba -y reference.rgba
cmp ffmpeg.rgba reference.rgba

check "the OpenFX bundle where hosts look, beside the module it opens"
bundle=/usr/OFX/Plugins/Vortelline.ofx.bundle/Contents
[ -f "$bundle/Linux-x86-64/Vortelline.ofx" ] && [ -f "$bundle/Resources/com.ternwick.Vortelline.png" ]
ls "$bundle"/Linux-x86-64/../../../../../lib/*/vortelline/Vortelline.so >/dev/null

check "apt-get purge leaves nothing behind"
dpkg -L vortelline >installed.txt
apt-get purge -y -q vortelline >apt.log 2>&1 || {
  cat apt.log
  exit 1
}
while read -r path; do
  # Folders that other packages own too (/usr/bin) stay.
  if [ -e "$path" ] && ! { [ -d "$path" ] && dpkg -S "$path" >/dev/null 2>&1; }; then
    echo "left behind: $path" >&2
    exit 1
  fi
done <installed.txt

cd /
rm -rf "$work"
