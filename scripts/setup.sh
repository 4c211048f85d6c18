#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent and quiet
# when everything is present; needs root (or sudo) only when something is missing.
set -euo pipefail

PACKAGES=(build-essential cmake ninja-build pkg-config libnewmat10-dev libtiff-dev
  libjpeg-dev qt6-base-dev libqt6opengl6-dev libgl-dev libglu1-mesa-dev libgtest-dev
  libbenchmark-dev xvfb xauth locales clang libclang-rt-14-dev poppler-utils
  libsuitesparse-dev lld
  libopenblas0-pthread)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq >/dev/null
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# A decimal-comma locale for the tests that pin locale independence.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8 >/dev/null 2>&1 || true
fi
