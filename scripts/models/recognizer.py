"""Builds a tiny streaming Zipformer2-CTC-shaped recognizer that hears tones.

The model averages groups of four fbank frames and scores, for each token,
the log-mel energy in a narrow band of mel bins against the bins flanking it.
A pure tone in a token's band therefore emits that token; anything else
emits blank. An HLG graph over a few words turns token runs into words.
"""

import math
import struct
import wave

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

NUM_MEL_BINS = 80
MEL_LOW_HZ = 20.0
MEL_HIGH_HZ = 7600.0          # 16 kHz Nyquist minus 400 Hz
CHUNK_FRAMES = 45
DECODE_CHUNK = 32
FRAMES_PER_OUTPUT = 4
OUTPUT_FRAMES = DECODE_CHUNK // FRAMES_PER_OUTPUT
CENTER_HALF_WIDTH = 1          # bins b-1..b+1 form the band
FLANK_NEAR, FLANK_FAR = 4, 6   # bins b±4..b±6 form the flanks
GAIN = 3.0
THRESHOLD = 4.0

# token symbol -> tone frequency in Hz; order gives the token ids 1..n
TOKENS = [
    ("▁HE", 500.0),
    ("LLO", 1000.0),
    ("▁WOR", 2000.0),
    ("LD", 4000.0),
    ("▁GO", 1400.0),
    ("OD", 2800.0),
]

WORDS = [
    ("HELLO", ["▁HE", "LLO"]),
    ("WORLD", ["▁WOR", "LD"]),
    ("HE", ["▁HE"]),
    ("GO", ["▁GO"]),
    ("GOOD", ["▁GO", "OD"]),
]

PHRASES = [
    ("hello_world", ["HELLO", "WORLD"]),
    ("good_world", ["GOOD", "WORLD"]),
    ("he_he_go", ["HE", "HE", "GO"]),
]

TONE_SECONDS = 0.25
GAP_SECONDS = 0.15
LEAD_SECONDS = 0.1
TAIL_SECONDS = 0.9             # the engine leaves the last ~0.8 s undecoded
RAMP_SECONDS = 0.01
AMPLITUDE = 0.4

METADATA = {
    "model_type": "zipformer2",
    "model_author": "tone-recognizer-generator",
    "comment": "synthetic tone detector for tests",
    "encoder_dims": "8",
    "query_head_dims": "2",
    "value_head_dims": "2",
    "num_heads": "1",
    "num_encoder_layers": "1",
    "cnn_module_kernels": "3",
    "left_context_len": "4",
    "T": str(CHUNK_FRAMES),
    "decode_chunk_len": str(DECODE_CHUNK),
}


def _mel(f):
    return 1127.0 * math.log(1.0 + f / 700.0)


def mel_bin_of(freq):
    """Index of the mel filter whose centre is closest to freq (Kaldi layout)."""
    lo, hi = _mel(MEL_LOW_HZ), _mel(MEL_HIGH_HZ)
    delta = (hi - lo) / (NUM_MEL_BINS + 1)
    centres = [lo + (b + 1) * delta for b in range(NUM_MEL_BINS)]
    m = _mel(freq)
    return min(range(NUM_MEL_BINS), key=lambda b: abs(centres[b] - m))


def symbols():
    return ["<blk>"] + [s for s, _ in TOKENS]


def tokens_text():
    return "".join("%s %d\n" % (s, i) for i, s in enumerate(symbols()))


def detector_weights():
    v = len(TOKENS) + 1
    w = np.zeros((NUM_MEL_BINS, v), dtype=np.float32)
    b = np.zeros(v, dtype=np.float32)
    for k, (_, freq) in enumerate(TOKENS, start=1):
        c = mel_bin_of(freq)
        centre = [c + d for d in range(-CENTER_HALF_WIDTH, CENTER_HALF_WIDTH + 1)]
        flank = [c + s * d for s in (-1, 1) for d in range(FLANK_NEAR, FLANK_FAR + 1)]
        if min(centre + flank) < 0 or max(centre + flank) >= NUM_MEL_BINS:
            raise ValueError("tone band out of range")
        for i in centre:
            w[i, k] += GAIN / len(centre)
        for i in flank:
            w[i, k] -= GAIN / len(flank)
        b[k] = -GAIN * THRESHOLD
    return w, b


def state_specs():
    """(name, dtype, shape) of each state input in the engine's order."""
    F = TensorProto.FLOAT
    return [
        ("cached_key_0", F, [4, "N", 2]),
        ("cached_nonlin_attn_0", F, [1, "N", 4, 6]),
        ("cached_val1_0", F, [4, "N", 2]),
        ("cached_val2_0", F, [4, "N", 2]),
        ("cached_conv1_0", F, ["N", 8, 1]),
        ("cached_conv2_0", F, ["N", 8, 1]),
        ("embed_states", F, ["N", 128, 3, 19]),
        ("processed_lens", TensorProto.INT64, ["N"]),
    ]


def build_model():
    F = TensorProto.FLOAT
    w, b = detector_weights()
    v = w.shape[1]
    inits = [
        numpy_helper.from_array(w, "band_weights"),
        numpy_helper.from_array(b, "band_bias"),
        numpy_helper.from_array(np.array([0], np.int64), "slice_start"),
        numpy_helper.from_array(np.array([DECODE_CHUNK], np.int64), "slice_end"),
        numpy_helper.from_array(np.array([1], np.int64), "slice_axis"),
        numpy_helper.from_array(
            np.array([0, OUTPUT_FRAMES, FRAMES_PER_OUTPUT, NUM_MEL_BINS], np.int64), "group_shape"),
        numpy_helper.from_array(np.array([DECODE_CHUNK // 2], np.int64), "lens_step"),
    ]
    N = helper.make_node
    nodes = [
        N("Slice", ["x", "slice_start", "slice_end", "slice_axis"], ["x_used"]),
        N("Reshape", ["x_used", "group_shape"], ["x_groups"]),
        N("ReduceMean", ["x_groups"], ["x_avg"], axes=[2], keepdims=0),
        N("MatMul", ["x_avg", "band_weights"], ["scores"]),
        N("Add", ["scores", "band_bias"], ["logits"]),
        N("LogSoftmax", ["logits"], ["log_probs"], axis=-1),
    ]
    inputs = [helper.make_tensor_value_info("x", F, ["N", CHUNK_FRAMES, NUM_MEL_BINS])]
    outputs = [helper.make_tensor_value_info("log_probs", F, ["N", OUTPUT_FRAMES, v])]
    for name, dtype, shape in state_specs():
        inputs.append(helper.make_tensor_value_info(name, dtype, shape))
        outputs.append(helper.make_tensor_value_info("new_" + name, dtype, shape))
        if name == "processed_lens":
            nodes.append(N("Add", [name, "lens_step"], ["new_" + name]))
        else:
            nodes.append(N("Identity", [name], ["new_" + name]))
    graph = helper.make_graph(nodes, "tone_ctc", inputs, outputs, initializer=inits)
    model = helper.make_model(graph, producer_name="tone-recognizer-generator",
                              opset_imports=[helper.make_opsetid("", 17)])
    model.ir_version = 8
    for k in sorted(METADATA):
        e = model.metadata_props.add()
        e.key, e.value = k, METADATA[k]
    onnx.checker.check_model(model)
    return model


def hlg_bytes():
    """OpenFst binary VectorFst (standard arcs) accepting sequences of WORDS."""
    tok_id = {s: i for i, s in enumerate(symbols())}
    blank_label = 1                      # token id + 1; 0 is epsilon
    states = [[]]                        # arcs per state: (ilabel, olabel, next)
    finals = [True]
    states[0].append((blank_label, 0, 0))
    word_entries = []                    # (first token label, word id, first state)
    word_ends = []                       # (last state, last token label)
    for word_id, (_, pieces) in enumerate(WORDS, start=1):
        labels = [tok_id[p] + 1 for p in pieces]
        chain = []
        for i, lab in enumerate(labels):
            s = len(states)
            states.append([(lab, 0, s)])       # repeated frames of the same token
            finals.append(False)
            chain.append(s)
            if i > 0:
                prev, prev_lab = chain[i - 1], labels[i - 1]
                blank_state = len(states)
                states.append([(blank_label, 0, blank_state), (lab, 0, s)])
                finals.append(False)
                states[prev].append((blank_label, 0, blank_state))
                if lab != prev_lab:
                    states[prev].append((lab, 0, s))
        finals[chain[-1]] = True
        states[chain[-1]].append((blank_label, 0, 0))
        word_entries.append((labels[0], word_id, chain[0]))
        word_ends.append((chain[-1], labels[-1]))
    for lab, word_id, first in word_entries:
        states[0].append((lab, word_id, first))
    for last, last_lab in word_ends:
        for lab, word_id, first in word_entries:
            if lab != last_lab:
                states[last].append((lab, word_id, first))

    def fst_string(s):
        return struct.pack("<i", len(s)) + s.encode()

    num_arcs = sum(len(a) for a in states)
    out = bytearray()
    out += struct.pack("<i", 2125659606)
    out += fst_string("vector") + fst_string("standard")
    out += struct.pack("<iiQqqq", 2, 0, 0x3, 0, len(states), num_arcs)
    for arcs, final in zip(states, finals):
        out += struct.pack("<fq", 0.0 if final else float("inf"), len(arcs))
        for il, ol, nxt in arcs:
            out += struct.pack("<iifi", il, ol, 0.0, nxt)
    return bytes(out)


def phrase_audio(words, rate):
    """Tone sequence for a word list, with leading and trailing silence."""
    spell = dict(WORDS)
    freq = dict(TOKENS)
    tones = [freq[p] for wd in words for p in spell[wd]]
    n_tone = int(round(TONE_SECONDS * rate))
    n_ramp = int(round(RAMP_SECONDS * rate))
    t = np.arange(n_tone, dtype=np.float64) / rate
    env = np.ones(n_tone)
    ramp = 0.5 - 0.5 * np.cos(np.pi * np.arange(n_ramp) / n_ramp)
    env[:n_ramp] = ramp
    env[n_tone - n_ramp:] = ramp[::-1]
    parts = [np.zeros(int(round(LEAD_SECONDS * rate)))]
    for i, f in enumerate(tones):
        if i:
            parts.append(np.zeros(int(round(GAP_SECONDS * rate))))
        parts.append(AMPLITUDE * env * np.sin(2 * np.pi * f * t))
    parts.append(np.zeros(int(round(TAIL_SECONDS * rate))))
    x = np.concatenate(parts)
    return np.round(x * 32767).astype("<i2")


def write_wav(path, samples, rate):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(samples.tobytes())
