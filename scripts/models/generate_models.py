"""Writes the demonstration voices, the real-cost variant of the English one
(a benchmark fixture), the tone recognizer and its test audio.

Usage: generate_models.py OUT_DIR
Produces OUT_DIR/files/... (ONNX models, tokens, graph) and OUT_DIR/testdata/.
ORT conversion and the espeak-ng-data links are done by generate.sh.
"""

import json
import os
import sys
import tempfile


sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import recognizer  # noqa: E402
import voice  # noqa: E402
import voice_cost  # noqa: E402

RECOGNIZER_STEM = "ctc-epoch-30-avg-3-chunk-16-left-128.int8"

VOICES = [
    {
        "dir": "en_GB/vits-piper-en_GB-southern_english_female-low",
        "stem": "en_GB-southern_english_female-low",
        "espeak_voices": ["en-gb-x-rp", "en-us"],
        "fallback_voices": ["de"],
        "metadata": {"voice": "en-gb-x-rp", "language": "English"},
    },
    {
        "dir": "de_DE/vits-piper-de_DE-oakvale-low",
        "stem": "de_DE-oakvale-low",
        "espeak_voices": ["de"],
        "fallback_voices": ["en-gb-x-rp"],
        "metadata": {"voice": "de", "language": "German"},
    },
]

# The English voice again, with the compute cost of a real low-quality piper
# voice, for measuring: a folder of its own, so that it is never taken for
# the default voice.
REAL_COST_VOICE = {
    "of": "en_GB-southern_english_female-low",
    "dir": "en_GB/vits-piper-en_GB-southern_english_female-low-real-cost",
    "stem": "en_GB-southern_english_female-low-real-cost",
}


def write_text(path, text):
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


def save_model(model, path):
    with open(path, "wb") as f:
        f.write(model.SerializeToString())


def make_voices(files_dir):
    espeak = voice.Espeak()
    with tempfile.TemporaryDirectory() as work:
        for voice_def in VOICES:
            snippets = voice.collect_snippets(espeak, voice_def["espeak_voices"],
                                              voice_def["fallback_voices"], work)
            symbols = voice.build_symbols(snippets)
            table, offsets, lengths = voice.build_table(symbols, snippets)
            meta = {
                "sample_rate": voice.SAMPLE_RATE,
                "n_speakers": 1,
                "comment": "piper-style demonstration voice built from espeak-ng phoneme snippets",
            }
            meta.update(voice_def["metadata"])
            model = voice.build_model(table, offsets, lengths, meta)
            out = os.path.join(files_dir, voice_def["dir"])
            os.makedirs(out, exist_ok=True)
            save_model(model, os.path.join(out, voice_def["stem"] + ".onnx"))
            write_text(os.path.join(out, "tokens.txt"), voice.tokens_text(symbols))
            print("voice %s: %d tokens, %d with audio, table %d samples" % (
                voice_def["stem"], len(symbols), int((lengths > 0).sum()), len(table)))
            if voice_def["stem"] == REAL_COST_VOICE["of"]:
                make_real_cost_voice(files_dir, model, voice.tokens_text(symbols))


def make_real_cost_voice(files_dir, light_model, tokens):
    out = os.path.join(files_dir, REAL_COST_VOICE["dir"])
    os.makedirs(out, exist_ok=True)
    heavy = voice_cost.add_real_voice_cost(light_model)
    save_model(heavy, os.path.join(out, REAL_COST_VOICE["stem"] + ".onnx"))
    write_text(os.path.join(out, "tokens.txt"), tokens)
    print("voice %s: chain of %d products of %dx%d per %d-sample frame" % (
        REAL_COST_VOICE["stem"], voice_cost.CHAIN_DEPTH, voice_cost.WIDTH, voice_cost.WIDTH,
        voice_cost.FRAME_SAMPLES))


def make_recognizer(files_dir, work_dir, test_dir):
    save_model(recognizer.build_model(), os.path.join(work_dir, RECOGNIZER_STEM + ".onnx"))
    write_text(os.path.join(files_dir, "tokens.txt"), recognizer.tokens_text())
    with open(os.path.join(files_dir, "HLG.fst"), "wb") as f:
        f.write(recognizer.hlg_bytes())
    entries = []
    for name, words in recognizer.PHRASES:
        for rate in (16000, 48000):
            fname = "%s_%d.wav" % (name, rate)
            recognizer.write_wav(os.path.join(test_dir, fname),
                                 recognizer.phrase_audio(words, rate), rate)
            entries.append({"file": fname, "text": " ".join(words), "sample_rate": rate})
    write_text(os.path.join(test_dir, "manifest.json"),
               json.dumps({"wavs": entries}, indent=2, ensure_ascii=False) + "\n")


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: generate_models.py OUT_DIR")
    out = sys.argv[1]
    files_dir = os.path.join(out, "files")
    work_dir = os.path.join(out, "onnx")
    test_dir = os.path.join(out, "testdata")
    for d in (files_dir, work_dir, test_dir):
        os.makedirs(d, exist_ok=True)
    make_voices(files_dir)
    make_recognizer(files_dir, work_dir, test_dir)


if __name__ == "__main__":
    main()
