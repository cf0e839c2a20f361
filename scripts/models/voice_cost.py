"""Gives a generated voice the compute cost of a real low-quality piper voice.

The demonstration voice only looks up waveform snippets, so it generates a
second of speech in about half a millisecond: too cheap to measure anything
that depends on generation time. The variant written here appends to the same
graph a chain of matrix products over the output audio cut into 256-sample
frames (16 ms), so its cost grows with the number of output frames as a
vocoder's does. The chain's result is multiplied by zero and added to the
audio: the output stays the light voice's, sample for sample, and inputs,
outputs and metadata are unchanged.

ONNX Runtime cannot drop the chain: its weights are computed from an input
("scales"), so nothing can be folded ahead of time, and its optimisers do
not simplify a product by zero. voice_cost_bench shows it: the cost grows in
proportion to CHAIN_DEPTH, from the .onnx file (optimised at load) and the
.ort file alike.

Usage, to write a variant of another depth for recalibrating:
  voice_cost.py LIGHT.onnx HEAVY.onnx [--depth N] [--width W]
"""

import argparse
import copy
import math

import numpy as np
import onnx
from onnx import helper, numpy_helper

FRAME_SAMPLES = 256
# Features per frame; each product is WIDTH x WIDTH. Measured at equal work,
# 768 runs as fast per multiply-add as 512 with fewer nodes (a smaller .ort
# file, about 250 kB); 1024 ran 20% slower.
WIDTH = 768
# Matrix products per frame: the knob that sets the cost. 172 gives a
# real-time factor (generation wall time / audio duration) of about 0.07 with
# the engine's default single thread: the figure given for a real
# low-quality piper voice on a fast desktop.
# Calibrated on 2026-12-08 on the project's build machine (2 cores, x86-64,
# shared with other developers' builds, load average 1.7-4.4) with
#   build/bench/bench/voice_cost_bench   (10 runs, 15 s apart)
# each run 5 rounds over 4 sentences, 16.9 s of audio: the .ort file's RTF,
# median of each run, was 0.062-0.097, median of the runs 0.069; with the
# thread's CPU time instead of wall time (which leaves out waiting for a
# core) 0.061-0.069, median 0.063. The .onnx file: 0.067, CPU 0.063. Wall
# time doubles when both cores are busy (at 164 products and load 3-7:
# 0.066-0.140, CPU 0.062-0.080). To recalibrate elsewhere:
#   voice_cost.py LIGHT.onnx /tmp/heavy.onnx --depth N
#   voice_cost_bench --heavy=/tmp/heavy.onnx
CHAIN_DEPTH = 172

OUTPUT = "output"


def _initializers(width):
    return [
        numpy_helper.from_array(np.array([-1], np.int64), "cost_flat_shape"),
        numpy_helper.from_array(np.array([-1, FRAME_SAMPLES], np.int64), "cost_frame_shape"),
        numpy_helper.from_array(np.array([FRAME_SAMPLES], np.int64), "cost_frame_samples"),
        numpy_helper.from_array(np.array([0], np.int64), "cost_zero_1d"),
        numpy_helper.from_array(np.array([1], np.int64), "cost_one_1d"),
        numpy_helper.from_array(np.array([2], np.int64), "cost_two_1d"),
        numpy_helper.from_array(np.array([3], np.int64), "cost_three_1d"),
        numpy_helper.from_array(np.arange(width, dtype=np.float32), "cost_column_index"),
        numpy_helper.from_array(np.arange(width, dtype=np.float32).reshape(1, width), "cost_row_index"),
        numpy_helper.from_array(np.array(0.37, np.float32), "cost_frequency"),
        numpy_helper.from_array(np.array(1.0 / math.sqrt(width), np.float32), "cost_weight_scale"),
        numpy_helper.from_array(np.array(0.0, np.float32), "cost_nothing"),
    ]


def _chain_nodes(light_output, depth, width):
    N = helper.make_node
    nodes = [
        # The audio in whole frames, zero-padded at the end.
        N("Reshape", [light_output, "cost_flat_shape"], ["cost_audio"]),
        N("Shape", ["cost_audio"], ["cost_samples"]),
        N("Mod", ["cost_samples", "cost_frame_samples"], ["cost_partial"]),
        N("Sub", ["cost_frame_samples", "cost_partial"], ["cost_missing"]),
        N("Mod", ["cost_missing", "cost_frame_samples"], ["cost_pad_end"]),
        N("Concat", ["cost_zero_1d", "cost_pad_end"], ["cost_pads"], axis=0),
        N("Pad", ["cost_audio", "cost_pads"], ["cost_padded"], mode="constant"),
        N("Reshape", ["cost_padded", "cost_frame_shape"], ["cost_frames"]),
        N("Concat", ["cost_frames"] * (width // FRAME_SAMPLES), ["cost_h0"], axis=1),
        # Weights from an input, so that no optimiser can compute them ahead.
        N("Slice", ["scales", "cost_two_1d", "cost_three_1d"], ["cost_phase"]),
        N("Add", ["cost_column_index", "cost_phase"], ["cost_column"]),
        N("Unsqueeze", ["cost_column", "cost_one_1d"], ["cost_column_2d"]),
        N("Mul", ["cost_column_2d", "cost_row_index"], ["cost_grid"]),
        N("Mul", ["cost_grid", "cost_frequency"], ["cost_angle"]),
        N("Sin", ["cost_angle"], ["cost_wave"]),
        N("Mul", ["cost_wave", "cost_weight_scale"], ["cost_weights"]),
    ]
    h = "cost_h0"
    for k in range(depth):
        nodes.append(N("MatMul", [h, "cost_weights"], ["cost_p%d" % (k + 1)]))
        nodes.append(N("Tanh", ["cost_p%d" % (k + 1)], ["cost_h%d" % (k + 1)]))
        h = "cost_h%d" % (k + 1)
    nodes += [
        # Bounded by tanh, so finite: times zero it is exactly zero.
        N("ReduceSum", [h], ["cost_total"], keepdims=0),
        N("Mul", ["cost_total", "cost_nothing"], ["cost_zero"]),
        N("Add", [light_output, "cost_zero"], [OUTPUT]),
    ]
    return nodes


def detach_output(light, renamed):
    """Returns a copy of the voice model `light` whose audio is produced
    under the name `renamed`: the nodes added to it produce the output."""
    model = copy.deepcopy(light)
    producers = [n for n in model.graph.node if OUTPUT in n.output]
    if len(producers) != 1:
        raise ValueError("the voice graph has no single producer of '%s'" % OUTPUT)
    producers[0].output[list(producers[0].output).index(OUTPUT)] = renamed
    return model


def add_real_voice_cost(light, depth=CHAIN_DEPTH, width=WIDTH):
    """Returns a copy of the voice model `light` with the cost chain appended."""
    if width % FRAME_SAMPLES != 0:
        raise ValueError("width must be a multiple of %d" % FRAME_SAMPLES)
    light_output = "light_output"
    model = detach_output(light, light_output)
    graph = model.graph
    graph.initializer.extend(_initializers(width))
    graph.node.extend(_chain_nodes(light_output, depth, width))
    graph.name = graph.name + "_real_cost"
    onnx.checker.check_model(model)
    return model


def main():
    parser = argparse.ArgumentParser(description="Write a voice variant with a real voice's compute cost.")
    parser.add_argument("light")
    parser.add_argument("heavy")
    parser.add_argument("--depth", type=int, default=CHAIN_DEPTH)
    parser.add_argument("--width", type=int, default=WIDTH)
    args = parser.parse_args()
    heavy = add_real_voice_cost(onnx.load(args.light), args.depth, args.width)
    with open(args.heavy, "wb") as f:
        f.write(heavy.SerializeToString())


if __name__ == "__main__":
    main()
