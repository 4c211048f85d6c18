#!/usr/bin/env bash
# Builds the application and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"
if [ -x build/bin/kestrelon ]; then
  exec build/bin/kestrelon "$@"
else
  echo "Everything is built; there is no application to start yet."
fi
