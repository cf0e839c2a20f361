#!/usr/bin/env bash
# Installs the build into a temporary prefix, builds a separate project that
# finds the package and links the module, and runs it.
# Usage: check_install.sh <build dir> <consumer source dir>
set -euo pipefail
build="$1"
source="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$source" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
output="$("$work/consumer/consumer")"
echo "$output"
test "$output" = "Sherpa 1 Sherpa Text-to-Speech"
