#!/usr/bin/env bash
# Installs the build into temporary prefixes and builds, against each, a
# separate project that finds the package, links the module and runs it:
#  - the package alone: it holds no framework stand-in, a consumer without a
#    framework is refused at find_package, and one that brings its own
#    framework (here the build tree's stand-in) links and runs;
#  - the package with the stand-in: the consumer finds the installed
#    framework package and runs against the installed library.
# The consumer lists the extension's node types, then constructs the
# speech-to-text node, loads the generated recognizer and prints the
# segments it hears in the known test audio.
# Usage: check_install.sh <build dir> <consumer source dir> <stand-in installed by default: 0|1>
#                         <stand-in library> <stand-in include dir> <models dir>
set -euo pipefail
shopt -s inherit_errexit
build="$1"
source="$2"
standinByDefault="$3"
standinLibrary="$4"
standinInclude="$5"
models="$6"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
recognizer=("$models/files/ctc-epoch-30-avg-3-chunk-16-left-128.int8.with_runtime_opt.ort" "$models/files/tokens.txt"
            "$models/files/HLG.fst" "$models/testdata/hello_world_16000.wav")
expected="Sherpa 1 Sherpa Text-to-Speech
HELLO WORLD"

fail() { echo "check_install: $*" >&2; exit 1; }

# Builds the consumer against a prefix (extra arguments go to its configure)
# and runs it; prints the folder it was built in.
buildConsumer() {
  local name="$1" prefix="$2"
  shift 2
  cmake -S "$source" -B "$work/$name" -DCMAKE_PREFIX_PATH="$prefix" "$@" >/dev/null
  cmake --build "$work/$name" >/dev/null
  local output
  output="$("$work/$name/consumer" "${recognizer[@]}")"
  echo "$name: $output" >&2
  [[ "$output" == "$expected" ]] || fail "$name printed \"$output\""
  echo "$work/$name"
}

hasStandin() {
  local prefix="$1"
  compgen -G "$prefix/lib*/libQuorvelSDK*" >/dev/null || [[ -d "$prefix/include/quorvel" ]] ||
    compgen -G "$prefix/lib*/cmake/QuorvelSDK" >/dev/null || [[ -e "$prefix/bin/quorvel-sherpa" ]]
}

# The package as installed by default.
plain="$work/plain"
cmake --install "$build" --prefix "$plain" >/dev/null
for file in include/sherpa/SherpaExtension.h include/sherpa/SherpaSTTNode.h include/sherpa/SherpaExport.h \
            lib/libQuorvelSherpa.so lib/libsherpa-onnx-c-api.so \
            lib/libonnxruntime.so lib/cmake/QuorvelSherpa/QuorvelSherpaConfig.cmake; do
  [[ -e "$plain/$file" ]] || fail "the package lacks $file"
done
if [[ "$standinByDefault" == 1 ]]; then
  hasStandin "$plain" || fail "QS_INSTALL_HOST_STANDIN is on but the stand-in was not installed"
else
  ! hasStandin "$plain" || fail "the package holds the framework stand-in"

  # Without a framework the package cannot be used, and says so.
  if cmake -S "$source" -B "$work/no-framework" -DCMAKE_PREFIX_PATH="$plain" >"$work/no-framework.log" 2>&1; then
    fail "find_package(QuorvelSherpa) succeeded without a framework"
  fi
  grep -q "QuorvelSDK" "$work/no-framework.log" || fail "the refusal does not name the framework package"

  # A consumer that brings the framework itself.
  buildConsumer own-framework "$plain" -DQUORVEL_SDK_LIBRARY="$standinLibrary" \
    -DQUORVEL_SDK_INCLUDE_DIR="$standinInclude" >/dev/null
fi

# The package with the stand-in, asked for.
full="$work/full"
cmake --install "$build" --prefix "$full" >/dev/null
cmake --install "$build" --prefix "$full" --component HostStandIn >/dev/null
for file in include/quorvel/Extension.h lib/cmake/QuorvelSDK/QuorvelSDKConfig.cmake; do
  [[ -e "$full/$file" ]] || fail "the stand-in lacks $file"
done
consumer="$(buildConsumer installed-framework "$full")"
libraries="$(ldd "$consumer/consumer")"
grep -q "libQuorvelSDK.so => $full/lib/" <<<"$libraries" ||
  fail "the consumer does not run against the installed stand-in"
