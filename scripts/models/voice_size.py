"""Gives a generated voice the size in memory of a real low-quality piper voice.

The demonstration voice holds about 160 kB of weights; a real low-quality
piper voice about 60 MB. The variant written here adds to the same graph one
weight tensor of WEIGHT_BYTES, of which each generation reads one row chosen
by the length of the output audio. The row's sum is multiplied by zero and
added to the audio: the output stays the light voice's, sample for sample,
and inputs, outputs and metadata are unchanged. Its generation costs what
the light voice's costs: it is a fixture for measuring memory, not time.

ONNX Runtime keeps the whole tensor: the row read depends on the output,
known only when the model runs, so nothing can be computed ahead of time
and dropped. The values are random, so that no page of it is all zeros.

Usage: voice_size.py LIGHT.onnx BIG.onnx [--bytes N]
"""

import argparse

import numpy as np
import onnx
from onnx import helper, numpy_helper

from voice_cost import OUTPUT, detach_output

ROW = 256  # floats per row: 1 kB
# A real low-quality piper voice's model file is 60-63 MB, nearly all weights.
WEIGHT_BYTES = 60 * 1000 * 1000
SEED = 25


def add_real_voice_size(light, weight_bytes=WEIGHT_BYTES):
    """Returns a copy of the voice model `light` with the weight tensor added."""
    rows = max(1, weight_bytes // (4 * ROW))
    light_output = "size_light_output"
    model = detach_output(light, light_output)
    graph = model.graph
    weights = np.random.default_rng(SEED).standard_normal((rows, ROW), dtype=np.float32)
    graph.initializer.extend([
        numpy_helper.from_array(weights, "size_weights"),
        numpy_helper.from_array(np.array(rows, np.int64), "size_rows"),
        numpy_helper.from_array(np.array(0.0, np.float32), "size_nothing"),
    ])
    N = helper.make_node
    graph.node.extend([
        N("Size", [light_output], ["size_samples"]),
        N("Mod", ["size_samples", "size_rows"], ["size_row_index"]),
        N("Gather", ["size_weights", "size_row_index"], ["size_row"], axis=0),
        # Finite values times zero: exactly zero.
        N("ReduceSum", ["size_row"], ["size_total"], keepdims=0),
        N("Mul", ["size_total", "size_nothing"], ["size_zero"]),
        N("Add", [light_output, "size_zero"], [OUTPUT]),
    ])
    graph.name = graph.name + "_real_size"
    onnx.checker.check_model(model)
    return model


def main():
    parser = argparse.ArgumentParser(description="Write a voice variant with a real voice's weight size.")
    parser.add_argument("light")
    parser.add_argument("big")
    parser.add_argument("--bytes", type=int, default=WEIGHT_BYTES)
    args = parser.parse_args()
    big = add_real_voice_size(onnx.load(args.light), args.bytes)
    with open(args.big, "wb") as f:
        f.write(big.SerializeToString())


if __name__ == "__main__":
    main()
