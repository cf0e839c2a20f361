#!/usr/bin/env bash
# The main job: speak an example sentence with the demonstration voice.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$root/build/hello.wav"
"$root/build/default/apps/quorvel-sherpa" say "Hello world. This is QuorvelSherpa speaking." -o "$out"
echo "main job: the spoken example is in $out"
