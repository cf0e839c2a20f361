#!/usr/bin/env python3
"""Compares a recording of played speech with the audio that was played.

usage: compare_audio.py REFERENCE.wav RECORDED.wav DURATION-TOLERANCE ENERGY-TOLERANCE

Both are 16-bit PCM WAV files, at any rate and channel count (channels are
averaged). The speech span runs from the first to the last sample above
-46 dBFS; the energy is the integral of the squared signal over time, so it
does not depend on the rate or on silence around the speech. Prints both
measures and their ratios, and exits 1 when either ratio is further from 1
than its tolerance (given as a fraction, e.g. 0.03).
"""
import array
import sys
import wave

THRESHOLD = 0.005  # -46 dBFS: below the voice's quietest speech, above 16-bit noise


def measure(path):
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2:
            sys.exit(f"{path}: not 16-bit PCM")
        rate, channels = w.getframerate(), w.getnchannels()
        samples = array.array("h", w.readframes(w.getnframes()))
    if sys.byteorder == "big":
        samples.byteswap()
    frames = len(samples) // channels
    mono = [sum(samples[f * channels:(f + 1) * channels]) / (channels * 32768.0) for f in range(frames)]
    loud = [i for i, x in enumerate(mono) if abs(x) > THRESHOLD]
    span = (loud[-1] - loud[0] + 1) / rate if loud else 0.0
    energy = sum(x * x for x in mono) / rate
    return span, energy


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    reference, recorded = sys.argv[1], sys.argv[2]
    duration_tolerance, energy_tolerance = float(sys.argv[3]), float(sys.argv[4])
    ref_span, ref_energy = measure(reference)
    rec_span, rec_energy = measure(recorded)
    if ref_span == 0 or ref_energy == 0:
        sys.exit(f"{reference}: no speech")
    span_ratio, energy_ratio = rec_span / ref_span, rec_energy / ref_energy
    print(f"reference: speech {ref_span:.3f} s, energy {ref_energy:.5f}; "
          f"recorded: speech {rec_span:.3f} s, energy {rec_energy:.5f}; "
          f"ratios: duration {span_ratio:.4f}, energy {energy_ratio:.4f}")
    ok = abs(span_ratio - 1) <= duration_tolerance and abs(energy_ratio - 1) <= energy_tolerance
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
