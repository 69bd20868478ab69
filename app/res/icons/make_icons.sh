#!/usr/bin/env bash
# Draws the program's two window icons from plain shapes with ImageMagick, so they can be
# redrawn at will: "VRK700" (the main window) shows the field unit, a box with its status
# lamp, display and aerial; "VRK700APPLICATION" (the program) adds the firmware arrow going
# into it. Drawn at 256 px and scaled down. Run from this folder; the PNGs are committed so a
# build needs no ImageMagick.
set -euo pipefail
unit='
stroke "#0b2545" stroke-width 12 line 176,88 208,16
fill "#1f4e8c" stroke "#0b2545" stroke-width 10 roundrectangle 24,88 232,232 24,24
stroke none fill "#3ddc4a" circle 68,128 84,128
fill "#d8e6f5" rectangle 104,112 208,144
fill "#9db8d6" rectangle 48,176 208,200
'
arrow='
fill "#f2a900" stroke "#6b4a00" stroke-width 8 polygon 100,120 156,120 156,168 196,168 128,244 60,168 100,168
'
draw() {  # output mvg-text
    local out=$1 mvg=$2
    for s in 16 32; do
        convert -size 256x256 xc:none -draw "$mvg" -filter Lanczos -resize "${s}x${s}" -strip "PNG32:${out}_${s}.png"
    done
}
draw vrk700 "$unit"
draw vrk700application "$unit$arrow"
