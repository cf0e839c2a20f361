#!/usr/bin/env bash
# Configures the build folder of a preset (build/PRESET). The presets build
# with Ninja; a folder configured earlier for another generator keeps a
# cache that CMake refuses to reuse, so that cache is dropped first and the
# folder is configured afresh (the next build then compiles everything).
# Usage: scripts/configure.sh PRESET
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
preset="$1"
build="$root/build/$preset"
if [[ -f "$build/CMakeCache.txt" ]] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$build/CMakeCache.txt"; then
  echo "configure: build/$preset was made for another generator; configuring it afresh"
  rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
fi
cd "$root"
cmake --preset "$preset" >/dev/null
