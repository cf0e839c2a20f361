#!/usr/bin/env bash
# Fetches the prebuilt engine (sherpa-onnx C API and ONNX Runtime) from the npm
# registry, checks the tarball against its published integrity and unpacks the
# two shared libraries into third_party/sherpa-onnx/lib. Does nothing when the
# libraries of the pinned version are already in place.
set -euo pipefail

VERSION=1.13.4
PACKAGE=sherpa-onnx-linux-x64
INTEGRITY="sha512-WZh5NCkGPFHHpYSd78iN4OnmxQeSTGyt9uZskH+im/NFHQ7elQ7B0sLzCMeRpvJxiIKvd9C6WxIJ4hYaxClfsQ=="

root="$(cd "$(dirname "$0")/.." && pwd)"
dest="$root/third_party/sherpa-onnx"
stamp="$dest/.version"

if [[ -f "$stamp" && "$(cat "$stamp")" == "$VERSION" \
      && -f "$dest/lib/libsherpa-onnx-c-api.so" && -f "$dest/lib/libonnxruntime.so" ]]; then
  exit 0
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# npm's own messages go to standard error as they come (a registry that
# cannot be reached is retried for a minute or more before npm gives up).
if ! (cd "$work" && npm pack --loglevel error "$PACKAGE@$VERSION" >/dev/null); then
  echo "fetch-engine: npm could not fetch $PACKAGE@$VERSION (see npm's message above;" \
    "is the npm registry reachable? 'npm config get registry' names the one in use)" >&2
  exit 1
fi
tarball="$work/$PACKAGE-$VERSION.tgz"

actual="sha512-$(openssl dgst -sha512 -binary "$tarball" | base64 -w0)"
if [[ "$actual" != "$INTEGRITY" ]]; then
  echo "fetch-engine: integrity mismatch for $PACKAGE@$VERSION" >&2
  echo "  expected $INTEGRITY" >&2
  echo "  got      $actual" >&2
  exit 1
fi

tar -xzf "$tarball" -C "$work" package/libsherpa-onnx-c-api.so package/libonnxruntime.so
mkdir -p "$dest/lib"
install -m 0755 "$work/package/libsherpa-onnx-c-api.so" "$work/package/libonnxruntime.so" "$dest/lib/"
echo "$VERSION" > "$stamp"
echo "fetch-engine: $PACKAGE@$VERSION unpacked into third_party/sherpa-onnx/lib"
