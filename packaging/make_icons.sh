#!/usr/bin/env bash
# Remakes the studio's icons in icons/hicolor/: the effect's own fireball, rendered by the CPU
# reference, over a dark rounded tile, scaled down for each size a menu or file manager asks for.
# Run by hand when the artwork should change (needs ImageMagick):
#   packaging/make_icons.sh build/cli/vortelline
set -euo pipefail
program=$(realpath "$1")
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A small sphere with little displacement and more density reads as one fireball at 16 pixels.
"$program" render --size 256x256 --frame 24 --quiet --processing cpu \
  --set "Sphere Radius=5" --set "Noise Amplitude=5" --set "Density=1.6" -o "$work/flames.png"
# The flames are emissive: screened onto the tile, which then cuts them to its rounded shape.
convert -size 256x256 xc:none -fill '#1d1512' -draw 'roundrectangle 8,8 247,247 44,44' "$work/tile.png"
convert "$work/tile.png" \( "$work/flames.png" -alpha off \) -compose screen -composite \
  "$work/tile.png" -compose dst-in -composite "$work/icon.png"
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "icons/hicolor/${size}x${size}/apps"
  convert "$work/icon.png" -filter Lanczos -resize "${size}x${size}" -strip \
    "icons/hicolor/${size}x${size}/apps/vortelline-studio.png"
done
