#!/usr/bin/env bash
# Renders the PNG icons from the hand-written SVGs in desktop/icons (run by hand after editing an
# SVG; the PNGs are committed so that the build needs no SVG renderer). Needs rsvg-convert
# (Debian: librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../desktop/icons"
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "hicolor/${size}x${size}/apps" "hicolor/${size}x${size}/mimetypes"
  rsvg-convert -w "$size" -h "$size" revizevoz.svg -o "hicolor/${size}x${size}/apps/revizevoz.png"
  rsvg-convert -w "$size" -h "$size" application-x-revizevoz-model.svg \
    -o "hicolor/${size}x${size}/mimetypes/application-x-revizevoz-model.png"
done
