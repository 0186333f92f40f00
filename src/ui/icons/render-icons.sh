#!/usr/bin/env bash
# Renders the icon's images from quenloft.svg, in 256 colours (Debian packages
# librsvg2-bin and pngquant). The images are kept in the repository; run this after
# changing the drawing.
set -euo pipefail
cd "$(dirname "$0")"
for size in 48 32 16; do
    rsvg-convert -w "$size" -h "$size" quenloft.svg -o "quenloft-$size.png"
    pngquant --force --strip --speed 1 256 --output "quenloft-$size.png" "quenloft-$size.png"
done
