#!/usr/bin/env bash
# Installs the Debian packages the build, the model generator and the tests
# need (PulseAudio: the command-line host's audio back end, and the sound
# server the live-audio tests start). Skips apt entirely when all of them
# are present already.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates openssl
  nodejs npm
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev
  libsoxr-dev libsamplerate0-dev libspeexdsp-dev
  libsndfile1-dev libcli11-dev nlohmann-json3-dev
  espeak-ng espeak-ng-data libespeak-ng-dev sox
  libpulse-dev pulseaudio pulseaudio-utils
  python3 python3-onnx python3-numpy
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node.js may come from elsewhere than Debian; npm on PATH is what matters.
if command -v npm >/dev/null 2>&1; then
  filtered=()
  for p in "${missing[@]}"; do [[ "$p" == nodejs || "$p" == npm ]] || filtered+=("$p"); done
  missing=("${filtered[@]}")
fi
if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
[[ $(id -u) -eq 0 ]] || SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
