#!/usr/bin/env bash
# Builds the application and its user guide, writes the sample project when
# it is missing and starts the application on it, maximised. Arguments
# replace the sample.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-release -G Ninja -DKESTRELON_UI=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-release -j "$(nproc)" --target kestrelon kestrelon-sample kestrelon_guide

SAMPLE_DIR="${XDG_DATA_HOME:-$HOME/.local/share}/kestrelon/sample"
if [ ! -f "$SAMPLE_DIR/Sample.kst" ] || [ ! -f "$SAMPLE_DIR/Image001.tif" ]; then
  build-release/bin/kestrelon-sample "$SAMPLE_DIR"
  echo "Sample project written to $SAMPLE_DIR"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Kestrelon is built, but there is no display to show it on (DISPLAY is not set)."
  echo "Start it from a desktop session: build-release/bin/kestrelon \"$SAMPLE_DIR/Sample.kst\""
  exit 1
fi

if [ $# -gt 0 ]; then
  exec build-release/bin/kestrelon "$@"
fi
exec build-release/bin/kestrelon "$SAMPLE_DIR/Sample.kst"
