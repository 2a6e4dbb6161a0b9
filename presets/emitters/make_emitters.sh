#!/usr/bin/env bash
# Draws the presets' sample emitter images with ImageMagick: white shapes on transparent at
# 960 x 540, softened so that their cores burn hotter than their edges. The presets fit them to
# the layer (emitter_placement "fit").
set -euo pipefail
cd "$(dirname "$0")"
bold=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
canvas=(-size 960x540 xc:none -fill white)

# A fire of five tongues on a bed of embers.
convert "${canvas[@]}" \
  -draw "ellipse 480,500 160,30 0,360" \
  -draw "path 'M 330,500 C 350,420 390,400 400,330 C 420,400 450,430 440,500 Z'" \
  -draw "path 'M 400,500 C 420,380 460,330 470,220 C 500,330 540,390 540,500 Z'" \
  -draw "path 'M 500,500 C 510,420 560,380 580,290 C 600,380 620,430 610,500 Z'" \
  -draw "path 'M 560,500 C 580,440 620,420 640,370 C 650,430 650,470 630,500 Z'" \
  -blur 0x10 campfire.png

# One slim drop, pointed at the top.
convert "${canvas[@]}" \
  -draw "path 'M 480,130 C 500,230 528,300 522,370 C 516,430 444,430 438,370 C 432,300 460,230 480,130 Z'" \
  -blur 0x10 candle.png

# A tall cluster of tongues over a narrow bowl.
convert "${canvas[@]}" \
  -draw "ellipse 480,430 70,22 0,360" \
  -draw "path 'M 420,430 C 430,360 460,330 470,200 C 490,320 530,350 540,430 Z'" \
  -draw "path 'M 440,430 C 450,370 490,340 510,260 C 520,340 530,380 525,430 Z'" \
  -blur 0x9 torch.png

# A burner's row of small, even jets.
jets=()
for x in $(seq 140 56 820); do
  jets+=(-draw "path 'M $((x - 20)),400 C $((x - 15)),360 $((x - 6)),330 $x,290 C $((x + 6)),330 $((x + 15)),360 $((x + 20)),400 Z'")
done
convert "${canvas[@]}" -draw "rectangle 110,392 850,404" "${jets[@]}" -blur 0x5 gas-burner.png

# A ring.
convert -size 960x540 xc:none -fill none -stroke white -strokewidth 26 -draw "circle 480,270 480,90" \
  -blur 0x5 fire-ring.png

# A word in heavy type, burning from its outline: the strokes' edges at full strength and their
# insides faint, so that the flames trace the letters and rise from their tops without filling the
# counters, and the word stays readable.
convert -size 960x540 xc:none -font "$bold" -pointsize 210 -gravity center -fill 'rgba(255,255,255,0.12)' \
  -stroke white -strokewidth 10 -annotate +0+20 "FIRE" -blur 0x4 burning-text.png

# An emblem: a hexagon around a chevron, drawn in strokes.
convert -size 960x540 xc:none -fill none -stroke white -strokewidth 24 \
  -draw "polygon 480,110 618,190 618,350 480,430 342,350 342,190" \
  -draw "polyline 410,220 480,330 550,220" -blur 0x2 logo.png
