#!/usr/bin/env bash
# Generates the demonstration voices, the real-cost variant of the English
# voice (a benchmark fixture), the tone recognizer and its test audio into
# <repo>/.cache/models. Skips the work when the stamp of its inputs (the
# generator sources and the tool versions) is unchanged and every output exists.
#   scripts/models/generate.sh [--force]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
cache="$root/.cache"
out="$cache/models"
node_dir="$cache/node"
python=/usr/bin/python3
ort_node_version=1.27.0
max_bytes=$((2 * 1024 * 1024))

force=0
if [[ "${1:-}" == "--force" ]]; then force=1; fi

mkdir -p "$cache"
exec 9>"$cache/models.lock"
flock 9

for tool in "$python" node npm sox espeak-ng dpkg sha256sum; do
  command -v "$tool" >/dev/null || { echo "generate.sh: missing tool $tool" >&2; exit 1; }
done

espeak_data=$(dpkg -L espeak-ng-data | grep -m1 '/espeak-ng-data$' || true)
if [[ -z "$espeak_data" || ! -f "$espeak_data/phontab" ]]; then
  echo "generate.sh: espeak-ng-data package folder not found" >&2
  exit 1
fi

installed_ort_version() {
  local pkg="$node_dir/node_modules/onnxruntime-node/package.json"
  [[ -f "$pkg" ]] && node -e "console.log(require(process.argv[1]).version)" "$pkg" || true
}
if [[ "$(installed_ort_version)" != "$ort_node_version" ]]; then
  echo "generate.sh: installing onnxruntime-node@$ort_node_version into $node_dir"
  mkdir -p "$node_dir"
  npm install --prefix "$node_dir" --ignore-scripts --no-audit --no-fund \
    "onnxruntime-node@$ort_node_version" >/dev/null
fi

# Every voice folder written, as folder/stem; the last is the benchmark
# fixture with a real voice's compute cost, not a voice the library loads.
voices=(
  "en_GB/vits-piper-en_GB-southern_english_female-low/en_GB-southern_english_female-low"
  "de_DE/vits-piper-de_DE-oakvale-low/de_DE-oakvale-low"
  "en_GB/vits-piper-en_GB-southern_english_female-low-real-cost/en_GB-southern_english_female-low-real-cost"
)
recognizer=ctc-epoch-30-avg-3-chunk-16-left-128.int8

stamp_inputs() {
  (cd "$here" && sha256sum generate.sh generate_models.py voice.py voice_cost.py recognizer.py to_ort.js)
  "$python" --version 2>&1
  "$python" -c "import onnx, numpy; print('onnx', onnx.__version__, 'numpy', numpy.__version__)"
  node --version
  echo "onnxruntime-node $(installed_ort_version)"
  espeak-ng --version
  sox --version
  dpkg-query -W -f '${Package} ${Version}\n' espeak-ng-data libespeak-ng1 sox 2>/dev/null || true
  echo "espeak-ng-data $espeak_data"
}
stamp=$(stamp_inputs | sha256sum | cut -d' ' -f1)

outputs_present() {
  local d="$1"
  [[ -f "$d/files/$recognizer.with_runtime_opt.ort" && -f "$d/files/tokens.txt" &&
     -f "$d/files/HLG.fst" && -f "$d/testdata/manifest.json" ]] || return 1
  local v
  for v in "${voices[@]}"; do
    [[ -f "$d/files/$v.with_runtime_opt.ort" && -f "$d/files/$v.onnx" &&
       -f "$d/files/$(dirname "$v")/tokens.txt" &&
       -f "$d/files/$(dirname "$v")/espeak-ng-data/phontab" ]] || return 1
  done
}

if [[ $force == 0 && -f "$out/.stamp" && "$(cat "$out/.stamp")" == "$stamp" ]] && outputs_present "$out"; then
  echo "generate.sh: models up to date in $out"
  exit 0
fi

staging=$(mktemp -d "$cache/models.staging.XXXXXX")
trap 'rm -rf "$staging"' EXIT

"$python" "$here/generate_models.py" "$staging"

convert_args=("$node_dir" "$staging/onnx/$recognizer.onnx" "$staging/files/$recognizer.with_runtime_opt.ort")
for v in "${voices[@]}"; do
  convert_args+=("$staging/files/$v.onnx" "$staging/files/$v.with_runtime_opt.ort")
done
node "$here/to_ort.js" "${convert_args[@]}"
rm -rf "$staging/onnx"

for v in "${voices[@]}"; do
  ln -s "$espeak_data" "$staging/files/$(dirname "$v")/espeak-ng-data"
done

outputs_present "$staging" || { echo "generate.sh: outputs incomplete" >&2; exit 1; }
bytes=$(find "$staging" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
if (( bytes > max_bytes )); then
  echo "generate.sh: generated $bytes bytes, more than $max_bytes" >&2
  exit 1
fi

echo "$stamp" > "$staging/.stamp"
chmod 755 "$staging"
rm -rf "$out"
mv "$staging" "$out"
trap - EXIT
echo "generate.sh: wrote $bytes bytes to $out"
