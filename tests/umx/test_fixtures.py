"""The checkpoint reader and the reference forward pass against what torch
itself wrote and computed (tools/make_umx_fixtures.py)."""

import numpy as np

import layout
import reference_forward
from checkpoint_reader import read_state_dict
from conftest import FORWARD, LEGACY, ZIP


def test_both_serializations_read_the_same_tensors():
    legacy, zipped = read_state_dict(LEGACY), read_state_dict(ZIP)
    assert list(legacy) == list(zipped)
    for key in legacy:
        assert legacy[key].dtype == zipped[key].dtype, key
        assert np.array_equal(legacy[key], zipped[key]), key
    network = layout.expected_shapes(8)
    assert set(legacy) - set(network) == {"stft.window", "sample_rate"}
    assert {k: legacy[k].shape for k in network} == network
    assert legacy["bn1.num_batches_tracked"].dtype == np.int64


def test_reference_forward_matches_torch():
    saved = np.load(FORWARD)
    out = reference_forward.forward(read_state_dict(ZIP), saved["input"], layout.SKIP_FIRST)
    peak = np.abs(saved["output"]).max()
    assert peak > 0 and (saved["output"] > 0).mean() > 0.2  # the ReLU gates let things through
    assert np.abs(out - saved["output"]).max() <= 1e-5 * peak
