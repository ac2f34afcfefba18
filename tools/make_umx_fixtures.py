#!/usr/bin/python3
"""Writes the stem-model checkpoint fixtures with real PyTorch.

    make_umx_fixtures.py [OUT_DIR]      (default: tests/data/umx beside this tool)

Run once by hand on a machine with torch; the outputs are committed, so
neither the tests nor the converter need torch. It writes

  umx_h8_legacy.pth   the state dict of a stem model of hidden size 8, saved
                      with torch's legacy serialization;
  umx_h8_zip.pth      the same state dict in torch's zip format;
  umx_h8_forward.npz  torch's own forward pass of that model on one fixed
                      input of 4 frames ("input", "output"), computed in
                      double precision from the saved float32 weights.

All parameters and batch-norm statistics are random and far from their
initial values, and the state dict carries two keys the network does not use
(a window and a sample rate), as published checkpoints may.
"""
import os
import sys

import numpy as np
import torch
from torch import nn

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "umx"))
import layout  # noqa: E402

HIDDEN = 8
C, B, M = layout.CHANNELS, layout.BINS, layout.MAX_BIN
FORWARD_FRAMES = 4


class StemModel(nn.Module):
    def __init__(self, hidden):
        super().__init__()
        self.fc1 = nn.Linear(C * M, hidden, bias=False)
        self.bn1 = nn.BatchNorm1d(hidden)
        self.lstm = nn.LSTM(hidden, hidden // 2, num_layers=layout.LSTM_LAYERS,
                            bidirectional=True)
        self.fc2 = nn.Linear(2 * hidden, hidden, bias=False)
        self.bn2 = nn.BatchNorm1d(hidden)
        self.fc3 = nn.Linear(hidden, C * B, bias=False)
        self.bn3 = nn.BatchNorm1d(C * B)
        self.input_mean = nn.Parameter(torch.zeros(M))
        self.input_scale = nn.Parameter(torch.ones(M))
        self.output_scale = nn.Parameter(torch.ones(B))
        self.output_mean = nn.Parameter(torch.zeros(B))

    def forward(self, mix):  # [1, C, B, T]
        frames = mix.shape[-1]
        x = (mix[:, :, :M] + self.input_mean[:, None]) * self.input_scale[:, None]
        x = x.permute(3, 0, 1, 2).reshape(frames, C * M)
        x = torch.tanh(self.bn1(self.fc1(x)))
        out, _ = self.lstm(x[:, None, :])
        skip = x[:, None, :]
        x = torch.cat([skip, out] if layout.SKIP_FIRST else [out, skip], -1)[:, 0, :]
        x = torch.relu(self.bn2(self.fc2(x)))
        x = self.bn3(self.fc3(x)).reshape(frames, C, B)
        x = torch.relu(x * self.output_scale + self.output_mean)
        return x.permute(1, 2, 0)[None] * mix


def randomise(model, gen):
    def normal(t, mean, std):
        t.copy_(mean + std * torch.randn(t.shape, generator=gen, dtype=t.dtype))

    with torch.no_grad():
        for name, p in model.named_parameters():
            if name.startswith("lstm."):
                normal(p, 0.0, 0.6)
            elif name.startswith("fc"):
                normal(p, 0.0, 2.0 / p.shape[1] ** 0.5)
            elif name.endswith(".weight"):  # batch-norm gain
                normal(p, 1.0, 0.3)
            elif name.endswith(".bias"):
                normal(p, 0.0, 0.3)
        model.input_mean.copy_(-torch.rand(M, generator=gen) * 2.0)  # a negated mean
        model.input_scale.copy_(1.0 / (0.2 + torch.rand(M, generator=gen)))  # a reciprocal
        normal(model.output_scale, 1.0, 0.4)
        normal(model.output_mean, 0.5, 0.5)
        for bn in (model.bn1, model.bn2, model.bn3):
            normal(bn.running_mean, 0.0, 0.5)
            bn.running_var.copy_(0.3 + 2.0 * torch.rand(bn.running_var.shape, generator=gen))
            bn.num_batches_tracked.fill_(1234)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "tests", "data", "umx")
    os.makedirs(out, exist_ok=True)
    gen = torch.Generator().manual_seed(8)
    model = StemModel(HIDDEN)
    randomise(model, gen)
    model.eval()

    state = model.state_dict()
    expected = layout.expected_shapes(HIDDEN)
    assert {k: tuple(v.shape) for k, v in state.items()} == expected, "layout differs"
    state["stft.window"] = torch.hann_window(4096)
    state["sample_rate"] = torch.tensor(44100.0)
    torch.save(state, os.path.join(out, "umx_h8_legacy.pth"),
               _use_new_zipfile_serialization=False)
    torch.save(state, os.path.join(out, "umx_h8_zip.pth"))

    mix = torch.rand((1, C, B, FORWARD_FRAMES), generator=gen) * 20.0
    mix[0, :, ::7, :] = 0.0
    mix[0, 1, 3, :] = 3000.0
    model.double()
    with torch.no_grad():
        result = model(mix.double())
    np.savez(os.path.join(out, "umx_h8_forward.npz"), input=mix.numpy(),
             output=result.numpy().astype(np.float32))


if __name__ == "__main__":
    main()
