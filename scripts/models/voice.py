"""Builds a small piper-style VITS voice that speaks with espeak-ng phoneme audio.

Each token of the voice owns a waveform snippet cut from espeak-ng's own
speech (cut points from libespeak-ng phoneme events). The ONNX graph looks up
the snippet of every input token and writes them one after another, so the
output length (and the memory the graph needs) grows with the output audio.
"""

import ctypes
import os
import subprocess
import wave

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

SAMPLE_RATE = 16000
SPACE_SAMPLES = 160            # 10 ms
PUNCT_SAMPLES = 2560           # 160 ms
FADE_SAMPLES = 32              # 2 ms linear fade at both ends of a snippet
MAX_SNIPPET_SAMPLES = 2880     # 180 ms cap per phoneme code point
MIN_SNIPPET_SAMPLES = 160      # shorter pieces are not used
QUIET_LEVEL = 330              # about 0.01 of full scale

SILENT_MARKS = "_^$ˈˌːˑ" + "".join(chr(c) for c in range(0x0300, 0x0370))
PUNCTUATION = ".,;:!?¡¿—–…\"«»“”„'()-"

# Code points offered by every voice; symbols without a recorded snippet
# stay in the table with zero length so the engine does not drop them loudly.
BASE_SYMBOLS = (
    "abcdefghijklmnopqrstuvwxyz"
    "æçðøŋœθχβɐɑɒɓɔɕɖɗɘəɚɛɜɝɞɟɠɡɢɣɤɥɦɧɨɪɫɬɭɮɯɰɱɲɳɴɵɶɸɹɺɻɽɾɿʀʁʂʃʄʈʉʊʋʌʍʎʏʐʑʒʔʕʘʙʛʜʝʟʡʢ"
    "ʰʲʷˠˤᵻ"
)

CORPUS = {
    "en-gb-x-rp": [
        "Hello world.",
        "The quick brown fox jumps over the lazy dog.",
        "She sells sea shells by the sea shore.",
        "How much wood would a woodchuck chuck?",
        "Good morning, this is a test of the voice.",
        "Thank you very much, I am pleased to measure the treasure.",
        "Beautiful pictures of old churches near the river.",
        "Judge the joy of singing birds.",
        "Go home now, the weather is getting worse.",
        "A hundred thousand apples fell on the boat.",
    ],
    "en-us": [
        "Hello world.",
        "Go home now, the water is getting hotter.",
        "Beautiful pictures of old churches near the river.",
        "The better letter was written in a notebook.",
    ],
    "de": [
        "Hallo Welt.",
        "Der schnelle braune Fuchs springt über den faulen Hund.",
        "Guten Morgen, wie geht es Ihnen?",
        "Ich möchte ein Stück Kuchen und eine Tasse Kaffee.",
        "Zwölf Boxkämpfer jagen Viktor quer über den großen Sylter Deich.",
        "Die Sonne scheint heute sehr schön.",
        "Acht nette Leute lachen über den Bach.",
        "Pferde trinken Wasser aus dem Brunnen.",
    ],
}


class _Event(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_int),
        ("unique_identifier", ctypes.c_uint),
        ("text_position", ctypes.c_int),
        ("length", ctypes.c_int),
        ("audio_position", ctypes.c_int),
        ("sample", ctypes.c_int),
        ("user_data", ctypes.c_void_p),
        ("id", ctypes.c_char * 8),
    ]


_CALLBACK = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(ctypes.c_short),
                             ctypes.c_int, ctypes.POINTER(_Event))
_EVENT_PHONEME = 7
_AUDIO_OUTPUT_SYNCHRONOUS = 2
_INIT_PHONEME_EVENTS_IPA_DONT_EXIT = 0x8003


class Espeak:
    """Synchronous libespeak-ng wrapper returning audio and phoneme cut points."""

    def __init__(self, data_parent=None):
        self._lib = ctypes.CDLL("libespeak-ng.so.1")
        path = data_parent.encode() if data_parent else None
        self.rate = self._lib.espeak_Initialize(
            _AUDIO_OUTPUT_SYNCHRONOUS, 0, path, _INIT_PHONEME_EVENTS_IPA_DONT_EXIT)
        if self.rate <= 0:
            raise RuntimeError("espeak_Initialize failed")
        self._audio = []
        self._events = []
        self._cb = _CALLBACK(self._on_synth)
        self._lib.espeak_SetSynthCallback(self._cb)

    def _on_synth(self, wav, n, events):
        if wav and n > 0:
            self._audio.extend(wav[:n])
        i = 0
        while events[i].type != 0:
            e = events[i]
            name = bytes(e.id).split(b"\0")[0].decode("utf-8", "replace") \
                if e.type == _EVENT_PHONEME else None
            self._events.append((e.type, e.sample, name))
            i += 1
        return 0

    def speak(self, voice, text):
        if self._lib.espeak_SetVoiceByName(voice.encode()) != 0:
            raise RuntimeError("unknown espeak-ng voice " + voice)
        self._audio, self._events = [], []
        data = text.encode("utf-8")
        # size, position 0, POS_CHARACTER, no end, espeakCHARS_UTF8
        err = self._lib.espeak_Synth(data, len(data) + 1, 0, 1, 0, 1, None, None)
        if err != 0:
            raise RuntimeError("espeak_Synth failed")
        return np.array(self._audio, dtype=np.int16), list(self._events)


def _resample(samples, rate_in, workdir, name):
    src = os.path.join(workdir, name + ".in.wav")
    dst = os.path.join(workdir, name + ".out.wav")
    with wave.open(src, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate_in)
        w.writeframes(samples.astype("<i2").tobytes())
    subprocess.run(["sox", "-R", "-D", "-V1", src, "-r", str(SAMPLE_RATE), "-b", "16", dst,
                    "gain", "-1"],
                   check=True)
    with wave.open(dst, "rb") as w:
        return np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").copy()


def _trim_quiet(seg):
    """Drops the quiet lead-in and tail of a piece (closures, pauses)."""
    loud = np.nonzero(np.abs(seg.astype(np.int32)) >= QUIET_LEVEL)[0]
    if len(loud) == 0:
        return seg[:0]
    return seg[loud[0]:loud[-1] + 1]


def _phoneme_pieces(audio16, events, rate_in):
    """Splits the utterance into (code point, samples) pieces, one per phoneme code point."""
    bounds = sorted({s for _, s, _ in events})
    scale = SAMPLE_RATE / rate_in
    pieces = []
    for etype, start, name in events:
        if etype != _EVENT_PHONEME or not name:
            continue
        later = [b for b in bounds if b > start]
        if not later:
            continue
        a = int(round(start * scale))
        b = min(int(round(later[0] * scale)), len(audio16))
        chars = [c for c in name if c not in SILENT_MARKS]
        if not chars or b - a < len(chars) * 16:
            continue
        edges = np.linspace(a, b, len(chars) + 1).round().astype(int)
        for c, x, y in zip(chars, edges[:-1], edges[1:]):
            seg = _trim_quiet(audio16[x:y])
            if len(seg) >= MIN_SNIPPET_SAMPLES:
                pieces.append((c, seg))
    return pieces


def _shape_snippet(seg):
    seg = seg[:MAX_SNIPPET_SAMPLES].astype(np.float64)
    n = len(seg)
    f = min(FADE_SAMPLES, n // 2)
    if f > 0:
        ramp = np.arange(f, dtype=np.float64) / f
        seg[:f] *= ramp
        seg[n - f:] *= ramp[::-1]
    return np.clip(np.round(seg), -32768, 32767).astype(np.int16)


# Stand-ins for code points no recording supplied.
SIMILAR = {
    "r": "ɾ", "ɹ": "ɾ", "ɾ": "ɹ", "ʁ": "ɾ", "ɫ": "l", "ɐ": "ə", "ɚ": "ə", "ɝ": "ɜ",
    "ᵻ": "ɪ", "χ": "x", "ɒ": "ɔ", "ʌ": "a", "ɑ": "a", "æ": "a", "ʒ": "ʃ", "θ": "f",
    "ð": "d", "ç": "x", "ʏ": "y", "ø": "œ", "ɵ": "ə", "ɨ": "ɪ", "ʔ": "t", "ɲ": "n",
    "ʎ": "l", "β": "v", "ɣ": "ɡ", "g": "ɡ",
}


def _pieces_by_code_point(espeak, voices, workdir):
    found = {}
    for voice in voices:
        for k, sentence in enumerate(CORPUS[voice]):
            audio, events = espeak.speak(voice, sentence)
            audio16 = _resample(audio, espeak.rate, workdir, "%s-%d" % (voice.replace("/", "_"), k))
            for c, seg in _phoneme_pieces(audio16, events, espeak.rate):
                found.setdefault(c, []).append(seg)
    return found


def _choose(segs):
    segs = sorted(segs, key=lambda s: (len(s), s.tobytes()))
    return _shape_snippet(segs[(3 * len(segs)) // 4])


def collect_snippets(espeak, voices, fallback_voices, workdir):
    """Returns {code point: int16 snippet}: the occurrence at the upper quartile of length.

    Code points the main voices never produce come from the fallback voices,
    then from a similar-sounding code point.
    """
    snippets = {c: _choose(v) for c, v in sorted(_pieces_by_code_point(espeak, voices, workdir).items())}
    extra = _pieces_by_code_point(espeak, fallback_voices, workdir)
    for c in sorted(extra):
        if c not in snippets:
            snippets[c] = _choose(extra[c])
    for c in sorted(SIMILAR):
        if c not in snippets and SIMILAR[c] in snippets:
            snippets[c] = snippets[SIMILAR[c]]
    return snippets


def build_symbols(snippets):
    symbols = ["_", "^", "$", " "]
    for c in PUNCTUATION + SILENT_MARKS + BASE_SYMBOLS + "".join(sorted(snippets)):
        if c not in symbols:
            symbols.append(c)
    return symbols


def tokens_text(symbols):
    # No trailing newline: a blank line is not accepted by the engine.
    return "\n".join("%s %d" % (s, i) for i, s in enumerate(symbols))


def build_table(symbols, snippets):
    """Flat int16 table with a leading silent region; returns table, offsets, lengths."""
    parts = [np.zeros(PUNCT_SAMPLES, dtype=np.int16)]
    pos = PUNCT_SAMPLES
    offsets, lengths = [], []
    placed = {}                        # snippet bytes -> offset, shared by stand-ins
    for s in symbols:
        if s == " ":
            offsets.append(0); lengths.append(SPACE_SAMPLES)
        elif s in PUNCTUATION:
            offsets.append(0); lengths.append(PUNCT_SAMPLES)
        elif s in snippets and s not in SILENT_MARKS:
            seg = snippets[s]
            key = seg.tobytes()
            if key not in placed:
                placed[key] = pos
                parts.append(seg); pos += len(seg)
            offsets.append(placed[key]); lengths.append(len(seg))
        else:
            offsets.append(0); lengths.append(0)
    return (np.concatenate(parts), np.array(offsets, dtype=np.int64),
            np.array(lengths, dtype=np.int64))


def build_model(table, offsets, lengths, metadata):
    """Graph: token ids -> concatenated snippets, scaled in time by scales[1]."""
    I64, I32, F = TensorProto.INT64, TensorProto.INT32, TensorProto.FLOAT
    inits = [
        numpy_helper.from_array(table, "snippet_table"),
        numpy_helper.from_array(offsets, "token_offsets"),
        numpy_helper.from_array(lengths.astype(np.float32), "token_lengths"),
        numpy_helper.from_array(np.array([-1], np.int64), "flat_shape"),
        numpy_helper.from_array(np.array([1, 1, -1], np.int64), "audio_shape"),
        numpy_helper.from_array(np.array([0], np.int64), "zero_1d"),
        numpy_helper.from_array(np.array([1], np.int64), "one_1d"),
        numpy_helper.from_array(np.array([2], np.int64), "two_1d"),
        numpy_helper.from_array(np.array(0, np.int32), "zero_i32"),
        numpy_helper.from_array(np.array(1, np.int32), "one_i32"),
        numpy_helper.from_array(np.array([1], np.int32), "one_1d_i32"),
        numpy_helper.from_array(np.array(0.5, np.float32), "half"),
        numpy_helper.from_array(np.array(1.0 / 32768.0, np.float32), "int16_scale"),
    ]
    N = helper.make_node
    nodes = [
        # token ids actually in use
        N("Reshape", ["input", "flat_shape"], ["ids_all"]),
        N("Slice", ["ids_all", "zero_1d", "input_lengths"], ["ids"]),
        # time stretch from the length scale
        N("Slice", ["scales", "one_1d", "two_1d"], ["length_scale"]),
        N("Gather", ["token_lengths", "ids"], ["tok_len_f"]),
        N("Mul", ["tok_len_f", "length_scale"], ["out_len_scaled"]),
        N("Add", ["out_len_scaled", "half"], ["out_len_round"]),
        N("Floor", ["out_len_round"], ["out_len_floor"]),
        N("Cast", ["out_len_floor"], ["out_len"], to=I32),
        N("Cast", ["tok_len_f"], ["tok_len"], to=I32),
        N("CumSum", ["out_len", "zero_i32"], ["ends"]),
        N("Sub", ["ends", "out_len"], ["starts"]),
        N("ReduceSum", ["out_len"], ["total_1d"], keepdims=1),
        N("ReduceSum", ["out_len"], ["total"], keepdims=0),
        # per-output-sample token index: count of tokens ending at or before it
        N("Add", ["total_1d", "one_1d_i32"], ["total_plus1"]),
        N("Cast", ["total_plus1"], ["total_plus1_i64"], to=I64),
        N("ConstantOfShape", ["total_plus1_i64"], ["marks_zero"],
          value=helper.make_tensor("v", I32, [1], [0])),
        N("Mul", ["out_len", "zero_i32"], ["zeros_t"]),
        N("Add", ["zeros_t", "one_i32"], ["ones_t"]),
        N("ScatterElements", ["marks_zero", "ends", "ones_t"], ["marks_all"],
          axis=0, reduction="add"),
        N("Cast", ["total_1d"], ["total_1d_i64"], to=I64),
        N("Slice", ["marks_all", "zero_1d", "total_1d_i64"], ["marks"]),
        N("CumSum", ["marks", "zero_i32"], ["sample_token"]),
        N("Range", ["zero_i32", "total", "one_i32"], ["sample_index"]),
        # position inside the token's snippet
        N("Gather", ["starts", "sample_token"], ["sample_start"]),
        N("Sub", ["sample_index", "sample_start"], ["out_pos"]),
        N("Cast", ["out_pos"], ["out_pos_f"], to=F),
        N("Div", ["out_pos_f", "length_scale"], ["src_pos_f"]),
        N("Floor", ["src_pos_f"], ["src_pos_floor"]),
        N("Cast", ["src_pos_floor"], ["src_pos_raw"], to=I32),
        N("Gather", ["tok_len", "sample_token"], ["sample_tok_len"]),
        N("Sub", ["sample_tok_len", "one_i32"], ["sample_last"]),
        N("Min", ["src_pos_raw", "sample_last"], ["src_pos"]),
        N("Gather", ["ids", "sample_token"], ["sample_id"]),
        N("Gather", ["token_offsets", "sample_id"], ["sample_offset64"]),
        N("Cast", ["sample_offset64"], ["sample_offset"], to=I32),
        N("Add", ["sample_offset", "src_pos"], ["table_index"]),
        N("Gather", ["snippet_table", "table_index"], ["pcm16"]),
        N("Cast", ["pcm16"], ["pcm_f"], to=F),
        N("Mul", ["pcm_f", "int16_scale"], ["pcm_scaled"]),
        N("Reshape", ["pcm_scaled", "audio_shape"], ["output"]),
    ]
    graph = helper.make_graph(
        nodes, "snippet_voice",
        [helper.make_tensor_value_info("input", I64, [1, "T"]),
         helper.make_tensor_value_info("input_lengths", I64, [1]),
         helper.make_tensor_value_info("scales", F, [3])],
        [helper.make_tensor_value_info("output", F, [1, 1, "N"])],
        initializer=inits)
    model = helper.make_model(graph, producer_name="snippet-voice-generator",
                              opset_imports=[helper.make_opsetid("", 17)])
    model.ir_version = 8
    for k in sorted(metadata):
        e = model.metadata_props.add()
        e.key, e.value = k, str(metadata[k])
    onnx.checker.check_model(model)
    return model

