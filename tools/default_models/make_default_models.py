#!/usr/bin/python3
"""Writes the default stem models: four small ONNX graphs that separate a
song with classic signal processing on its magnitude spectrogram, with no
learned weights.

    make_default_models.py OUT_DIR

writes umxl_vocals.onnx, umxl_other.onnx, umxl_bass.onnx and umxl_drums.onnx.
Each takes the mixture magnitudes "spectrogram", float [1, 2, 2049, 100]
(channel, bin, frame; frame fastest), and returns its stem's magnitude
estimate in the same shape as output 0.

How a stem is found, the same in every model:

  1. S, the mean of the left and right magnitudes, is split into a harmonic
     and a percussive part: a median along time keeps what is steady in
     pitch (H), a median along frequency keeps what is broadband and brief
     (P). The soft masks P^2 / (H^2 + P^2) and its complement tell, per bin
     and frame, how percussive or harmonic the mixture is there.
  2. drums  = the percussive mask;
     bass   = the harmonic mask below about 250 Hz;
     vocals = the harmonic mask in the voice band (above the bass, below
              8 kHz), weighted by how alike the left and right magnitudes
              are ((min / max)^2: a singer is mixed to the centre, the
              other instruments mostly are not);
     other  = the rest of the harmonic mask.
  3. The estimate is mask x mixture magnitude, per channel.

The four masks sum to one in every bin, so the four stems add up to the
mixture. The medians are built from shifted slices of the spectrogram and
element-wise Min and Max, so a model needs no large constant: the biggest
are the per-bin weights of the frequency bands, 2049 floats each.
"""
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

CHANNELS, BINS, FRAMES = 2, 2049, 100
SAMPLE_RATE, N_FFT = 44100, 4096
OPSET = 17

# Both medians are over 9 values: along time that is 0.2 s of steady pitch,
# along frequency 97 Hz of spectrum. Shorter medians let a drum hit pass for
# harmonic; longer ones let a short note or a vibrato pass for percussive,
# and cost more.

# The bass band ends with a smooth step: half weight at 250 Hz, and the
# weight falls from 0.9 to 0.1 over about 110 Hz.
BASS_CUTOFF_HZ = 250.0
BASS_EDGE_HZ = 25.0
# The voice band runs from where the bass band fades out up to where a
# singer's harmonics and formants stop carrying weight.
VOICE_HIGH_HZ = 8000.0
VOICE_EDGE_HZ = 40.0
# Exponent of the centre weight (min / max of the two channels): 2 keeps a
# source panned 70/30 to about a fifth of its weight.
CENTRE_POWER = 2
# Keeps divisions finite on silent bins.
EPS = 1e-12

STEM_FILES = {
    "vocals": "umxl_vocals.onnx",
    "other": "umxl_other.onnx",
    "bass": "umxl_bass.onnx",
    "drums": "umxl_drums.onnx",
}


def bin_weights():
    """Per-bin weights of the bass and voice bands, shape [1, 1, BINS, 1]."""
    hz = np.arange(BINS, dtype=np.float64) * SAMPLE_RATE / N_FFT
    step = lambda x: 0.5 * (1.0 + np.tanh(x / 2.0))  # a logistic without overflow
    bass = step((BASS_CUTOFF_HZ - hz) / BASS_EDGE_HZ)
    voice = (1.0 - bass) * step((VOICE_HIGH_HZ - hz) / VOICE_EDGE_HZ)
    shape = (1, 1, BINS, 1)
    return bass.astype(np.float32).reshape(shape), voice.astype(np.float32).reshape(shape)


class Graph:
    """A small builder that names nodes and constants as it goes."""

    def __init__(self):
        self.nodes, self.inits, self.count = [], [], 0

    def name(self, hint):
        self.count += 1
        return f"{hint}_{self.count}"

    def const(self, hint, value, dtype=np.float32):
        n = self.name(hint)
        self.inits.append(numpy_helper.from_array(np.asarray(value, dtype=dtype), n))
        return n

    def op(self, op_type, inputs, hint=None, outputs=1, **attrs):
        names = [self.name(hint or op_type.lower()) for _ in range(outputs)]
        self.nodes.append(helper.make_node(op_type, inputs, names, **attrs))
        return names[0] if outputs == 1 else names

    def slice(self, x, axis, start, end):
        return self.op("Slice", [x, self.const("start", [start], np.int64),
                                 self.const("end", [end], np.int64),
                                 self.const("axis", [axis], np.int64)])

    def sort3(self, a, b, c):
        """The smallest, middle and largest of three tensors, element by element."""
        lo_ab, hi_ab = self.op("Min", [a, b]), self.op("Max", [a, b])
        lo, rest = self.op("Min", [lo_ab, c]), self.op("Max", [lo_ab, c])
        return lo, self.op("Min", [hi_ab, rest]), self.op("Max", [hi_ab, rest])

    def median3(self, a, b, c):
        return self.op("Max", [self.op("Min", [a, b]),
                               self.op("Min", [self.op("Max", [a, b]), c])])

    def median9(self, x, axis, size):
        """Running median of 9 along `axis` (of `size` entries), with the edge
        values repeated beyond both ends.

        Nine values split into three sorted triples have as their median the
        median of (the largest of the three minima, the median of the three
        middles, the smallest of the three maxima). Along an axis, the triples
        of one window start 3 apart, so each triple is sorted once for all
        windows: 18 element-wise Min/Max ops on the whole tensor, where a
        general sorting network would need 40 and a TopK is ten times slower.
        """
        pads = [0] * 8
        pads[axis], pads[4 + axis] = 4, 4
        padded = self.op("Pad", [x, self.const("pads", pads, np.int64)], mode="edge")
        # Triple i holds padded entries i, i + 1, i + 2, for i = 0 .. size + 5.
        lo, mid, hi = self.sort3(*[self.slice(padded, axis, i, i + size + 6) for i in range(3)])
        # The window at t holds the triples t, t + 3 and t + 6.
        triples = lambda v: [self.slice(v, axis, i, i + size) for i in (0, 3, 6)]
        lo0, lo1, lo2 = triples(lo)
        hi0, hi1, hi2 = triples(hi)
        largest_min = self.op("Max", [self.op("Max", [lo0, lo1]), lo2])
        smallest_max = self.op("Min", [self.op("Min", [hi0, hi1]), hi2])
        return self.median3(largest_min, self.median3(*triples(mid)), smallest_max)


def build(stem):
    g = Graph()
    x = "spectrogram"
    left = g.slice(x, 1, 0, 1)
    right = g.slice(x, 1, 1, 2)
    mono = g.op("Mul", [g.op("Add", [left, right]), g.const("half", 0.5)])

    harmonic = g.median9(mono, 3, FRAMES)
    percussive = g.median9(mono, 2, BINS)
    h2 = g.op("Mul", [harmonic, harmonic])
    p2 = g.op("Mul", [percussive, percussive])
    total = g.op("Add", [g.op("Add", [h2, p2]), g.const("eps", EPS)])
    perc_mask = g.op("Div", [p2, total])
    harm_mask = g.op("Sub", [g.const("one", 1.0), perc_mask])

    bass_w, voice_w = bin_weights()
    if stem in ("vocals", "other"):
        similar = g.op("Div", [g.op("Min", [left, right]),
                               g.op("Add", [g.op("Max", [left, right]), g.const("eps", EPS)])])
        centre = similar
        for _ in range(CENTRE_POWER - 1):
            centre = g.op("Mul", [centre, similar])
        voice_share = g.op("Mul", [g.const("voice_band", voice_w), centre])

    if stem == "drums":
        mask = perc_mask
    elif stem == "bass":
        mask = g.op("Mul", [harm_mask, g.const("bass_band", bass_w)])
    elif stem == "vocals":
        mask = g.op("Mul", [harm_mask, voice_share])
    else:  # other: what the harmonic mask gives neither to bass nor to vocals
        rest = g.op("Sub", [g.const("not_bass", 1.0 - bass_w), voice_share])
        mask = g.op("Mul", [harm_mask, rest])
    g.nodes.append(helper.make_node("Mul", [mask, x], ["estimate"]))

    shape = [1, CHANNELS, BINS, FRAMES]
    graph = helper.make_graph(
        g.nodes, f"ombrelt_default_{stem}",
        [helper.make_tensor_value_info(x, TensorProto.FLOAT, shape)],
        [helper.make_tensor_value_info("estimate", TensorProto.FLOAT, shape)],
        g.inits)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)],
                              producer_name="tavrin-ombrelt make_default_models")
    model.doc_string = f"{stem} magnitude by harmonic/percussive, band and stereo-centre masks"
    onnx.checker.check_model(model, full_check=True)
    return model


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_default_models.py OUT_DIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for stem, file_name in STEM_FILES.items():
        path = os.path.join(out, file_name)
        tmp = path + ".tmp"
        onnx.save(build(stem), tmp)
        os.replace(tmp, path)  # a build that stops half-way leaves no broken model


if __name__ == "__main__":
    main()
