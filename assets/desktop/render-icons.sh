#!/bin/sh
# Renders the application icon's PNG sizes from its SVG (needs rsvg-convert, package librsvg2-bin).
# Run after changing ru.valtrix.KestManager.svg and commit the PNGs with it.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
for n in 16 24 32 48 64 128 256; do
    mkdir -p "$here/icons/${n}x${n}"
    rsvg-convert --width "$n" --height "$n" --format png \
        --output "$here/icons/${n}x${n}/ru.valtrix.KestManager.png" "$here/ru.valtrix.KestManager.svg"
done
