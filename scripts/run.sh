#!/usr/bin/env bash
# Builds the application, writes the sample project when it is missing and
# starts the application on it, maximised. Arguments replace the sample.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DKESTRELON_UI=ON >/dev/null
cmake --build build -j "$(nproc)" --target kestrelon kestrelon-sample

SAMPLE_DIR="${XDG_DATA_HOME:-$HOME/.local/share}/kestrelon/sample"
if [ ! -f "$SAMPLE_DIR/Sample.kst" ] || [ ! -f "$SAMPLE_DIR/Image001.tif" ]; then
  build/bin/kestrelon-sample "$SAMPLE_DIR"
  echo "Sample project written to $SAMPLE_DIR"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Kestrelon is built, but there is no display to show it on (DISPLAY is not set)."
  echo "Start it from a desktop session: build/bin/kestrelon \"$SAMPLE_DIR/Sample.kst\""
  exit 1
fi

if [ $# -gt 0 ]; then
  exec build/bin/kestrelon "$@"
fi
exec build/bin/kestrelon "$SAMPLE_DIR/Sample.kst"
