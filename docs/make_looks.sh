#!/usr/bin/env bash
# Renders the pictures of looks the README shows, from the command line only:
#   docs/presets.png          a contact sheet of every preset (`vortelline presets`)
#   docs/presets_dark.png     every preset over a dark photograph (Debian's mate-backgrounds), `over`
#   docs/presets_bright.png   every preset over a sunlit photograph, `screen` (never darkens it)
#   docs/sweep_*.png          strips sweeping the controls that confuse most, one value a frame
# Needs ImageMagick (montage), FFmpeg (the composites), mate-backgrounds and DejaVu fonts; `./build.sh looks` installs them, builds and runs this.
#   docs/make_looks.sh [path/to/vortelline]
set -euo pipefail
cd "$(dirname "$0")/.."
program=${1:-build/cli/vortelline}
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Frame 24 (one second in) of a look; 320 x 180 unless size says otherwise.
size=320x180
render() {
  local out=$1
  shift
  "$program" render --quiet --size "$size" --frame 24 "$@" -o "$out"
}

# montage OUT COLUMNS (LABEL FILE)...: tiles over the dark grey the studio shows, labels below.
sheet() {
  local out=$1 columns=$2
  shift 2
  local tiles=()
  while [ $# -gt 0 ]; do
    tiles+=(-label "$1" "$2")
    shift 2
  done
  montage -font "$font" -pointsize 13 -fill '#dddddd' -background '#262626' -geometry +3+3 \
    -tile "${columns}x" "${tiles[@]}" "$out"
}

# The photographs the looks are shown over, cut to the tiles' size.
photos=/usr/share/backgrounds/mate/nature
fit="scale=${size/x/:}:force_original_aspect_ratio=increase,crop=${size/x/:}"
ffmpeg -nostdin -v error -i "$photos/Storm.jpg" -vf "$fit" "$work/dark.png"
ffmpeg -nostdin -v error -i "$photos/Dune.jpg" -vf "$fit" "$work/bright.png"
# over DARK FLAMES OUT: the flames (straight alpha) over the photograph, as an editor's normal track.
over() {
  ffmpeg -nostdin -v error -i "$1" -i "$2" -filter_complex "[0][1]overlay=format=rgb" -y "$3"
}
# screen BRIGHT FLAMES OUT: the flames' light screened onto the photograph; FFmpeg's blend works on
# the planes as stored, so the straight colour is premultiplied first (the flames over black).
screen() {
  ffmpeg -nostdin -v error -i "$1" -i "$2" -filter_complex \
    "[1]format=rgba,premultiply=inplace=1,format=gbrp[f];[0]format=gbrp[b];[b][f]blend=all_mode=screen,format=rgb24" \
    -y "$3"
}

tiles=()
dark=()
bright=()
while read -r name _; do
  render "$work/$name.png" --preset "$name"
  over "$work/dark.png" "$work/$name.png" "$work/$name-dark.png"
  screen "$work/bright.png" "$work/$name.png" "$work/$name-bright.png"
  tiles+=("$name" "$work/$name.png")
  dark+=("$name" "$work/$name-dark.png")
  bright+=("$name" "$work/$name-bright.png")
done < <("$program" presets)
sheet docs/presets.png 4 "${tiles[@]}"
sheet docs/presets_dark.png 4 "${dark[@]}"
sheet docs/presets_bright.png 4 "${bright[@]}"

# sweep NAME CONTROL "VALUES" [render options]: one strip, the control at each value over the
# default look (or the options' look).
sweep() {
  local name=$1 control=$2 values=$3
  shift 3
  local strip=()
  for value in $values; do
    render "$work/$name-$value.png" "$@" --set "$control=$value"
    strip+=("$control $value" "$work/$name-$value.png")
  done
  sheet "docs/sweep_$name.png" 6 "${strip[@]}"
}

size=240x135
# The hues show once Saturation is up and Tint is out of the way.
hues=(--set "Color Adjustment/Saturation=1" --set "Tint/Amount=0")
sweep density "Density" "0.5 0.7 0.9 1.1 1.4 1.8"
sweep step_size "Step Size" "0.2 0.35 0.5 0.7 1 1.5"
sweep sphere_radius "Sphere Radius" "4 5.5 6.5 7.5 8.5 10"
sweep noise_amplitude "Noise Amplitude" "0 3 6 9 11 13"
sweep noise_frequency "Noise Frequency" "0.4 0.8 1.2 1.8 2.5 4"
sweep camera_distance "View/Camera Distance" "4.5 6 7 8 9 10.5"
sweep saturation "Color Adjustment/Saturation" "0 0.1 0.4 0.8 1.5 3"
sweep tint_amount "Tint/Amount" "0 0.1 0.23 0.35 0.5 0.8"
sweep tint_blue "Tint/Blue" "-1.4 0 1 2 3 3.8" --set "Tint/Red=-1.4" --set "Tint/Amount=0.3"
sweep main_hue "Main Color/Hue" "0 35 60 120 200 280" "${hues[@]}"
sweep inner_hue "Inner Color/Hue" "0 35 60 120 200 280" "${hues[@]}"
sweep main_gain "Main Color/Gain" "100 200 300 382 450 600"
