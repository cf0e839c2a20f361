#!/usr/bin/env bash
# Compiles a file that includes the public header and nothing else, as C++17
# and as C++20, with every compiler given, warnings as errors.
# Usage: check_public_header.sh <include dir> <framework include dir> <compiler>...
set -euo pipefail
include="$1"
framework="$2"
shift 2
for compiler in "$@"; do
  for standard in c++17 c++20; do
    echo "$compiler -std=$standard"
    echo '#include <sherpa/SherpaExtension.h>' |
      "$compiler" -std="$standard" -x c++ -fsyntax-only -Wall -Wextra -Wpedantic -Werror \
        -I"$include" -I"$framework" -
  done
done
