#!/usr/bin/env bash
# Compiles, for each public header, a file that includes it and nothing
# else, as C++17 and as C++20, with every compiler given, warnings as errors.
# Usage: check_public_header.sh <include dir> <framework include dir> <compiler>...
set -euo pipefail
include="$1"
framework="$2"
shift 2
headers=("$include"/sherpa/*.h)
[[ ${#headers[@]} -ge 3 ]] || { echo "public headers missing in $include/sherpa" >&2; exit 1; }
for header in "${headers[@]}"; do
  for compiler in "$@"; do
    for standard in c++17 c++20; do
      echo "$compiler -std=$standard: sherpa/$(basename "$header")"
      echo "#include <sherpa/$(basename "$header")>" |
        "$compiler" -std="$standard" -x c++ -fsyntax-only -Wall -Wextra -Wpedantic -Werror \
          -I"$include" -I"$framework" -
    done
  done
done
