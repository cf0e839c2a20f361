#!/usr/bin/env bash
# Writes the real-size voice, a benchmark fixture that only the memory
# benchmark loads: the English demonstration voice with 60 MB of weights
# added (scripts/models/voice_size.py), beside its tokens and espeak-ng data,
# into <repo>/.cache/real-size-voice. About 60 MB on disk and a few seconds;
# kept apart from the default models (which stay small and are regenerated
# as a whole), and skipped when its inputs are unchanged.
#   scripts/models/generate_real_size.sh [--force]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
light_dir="$root/.cache/models/files/en_GB/vits-piper-en_GB-southern_english_female-low"
light="$light_dir/en_GB-southern_english_female-low.onnx"
out="$root/.cache/real-size-voice"
stem=en_GB-southern_english_female-low-real-size
python=/usr/bin/python3

force=0
if [[ "${1:-}" == "--force" ]]; then force=1; fi

"$here/generate.sh"
[[ -f "$light" ]] || { echo "generate_real_size.sh: $light missing" >&2; exit 1; }

stamp=$( (sha256sum "$here/voice_size.py" "$here/voice_cost.py" "$light"; "$python" -c "import onnx, numpy; print(onnx.__version__, numpy.__version__)") |
  sha256sum | cut -d' ' -f1)
if [[ $force == 0 && -f "$out/.stamp" && "$(cat "$out/.stamp")" == "$stamp" && -f "$out/$stem.onnx" ]]; then
  echo "generate_real_size.sh: real-size voice up to date in $out"
  exit 0
fi

staging=$(mktemp -d "$root/.cache/real-size-voice.staging.XXXXXX")
trap 'rm -rf "$staging"' EXIT
"$python" "$here/voice_size.py" "$light" "$staging/$stem.onnx"
cp "$light_dir/tokens.txt" "$staging/tokens.txt"
ln -s "$(readlink -f "$light_dir/espeak-ng-data")" "$staging/espeak-ng-data"
echo "$stamp" > "$staging/.stamp"
chmod 755 "$staging"
rm -rf "$out"
mv "$staging" "$out"
trap - EXIT
echo "generate_real_size.sh: wrote $(du -sh "$out/$stem.onnx" | cut -f1) to $out"
