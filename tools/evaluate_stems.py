#!/usr/bin/python3
"""Scores separated stems against the true ones.

    evaluate_stems.py --mix MIX.wav --truth TRUE_DIR --estimates STEM_DIR

TRUE_DIR holds vocals.wav, other.wav, bass.wav and drums.wav; STEM_DIR holds
what the separation wrote for MIX.wav: <base>_<stem>.wav, <base> being the
mix's file name without its extension. For each stem the table gives

    SDR = 10 log10( sum s^2 / sum (s - s_est)^2 )

over both channels, for the separated stem (s_est = the estimate) and for
the mixture taken as the estimate (the baseline), and the improvement of the
first over the second. When the instrumental mix is there it gets a row of
its own, scored against other + bass + drums.

Exit status: 0 when every stem scored, 1 when a file is missing or unreadable.
"""
import argparse
import os
import sys
import wave

import numpy as np

STEMS = ("vocals", "other", "bass", "drums")


def read_wav(path):
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2:
            raise ValueError(f"{path}: not 16-bit PCM")
        data = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")
        return data.reshape(-1, w.getnchannels()).astype(np.float64) / 32768.0


def sdr(reference, estimate):
    n = min(len(reference), len(estimate))
    reference, estimate = reference[:n], estimate[:n]
    signal = np.sum(np.square(reference))
    error = np.sum(np.square(reference - estimate))
    if error == 0.0:
        return float("inf")
    if signal == 0.0:
        return float("-inf")
    return 10.0 * np.log10(signal / error)


def main():
    parser = argparse.ArgumentParser(description="Score separated stems against the true stems.")
    parser.add_argument("--mix", required=True, help="the mixture that was separated")
    parser.add_argument("--truth", required=True, help="directory of the true stems (<stem>.wav)")
    parser.add_argument("--estimates", required=True,
                        help="directory of the separated stems (<mix base>_<stem>.wav)")
    args = parser.parse_args()

    base = os.path.splitext(os.path.basename(args.mix))[0]
    try:
        mix = read_wav(args.mix)
        truth = {s: read_wav(os.path.join(args.truth, s + ".wav")) for s in STEMS}
        estimates = {s: read_wav(os.path.join(args.estimates, f"{base}_{s}.wav")) for s in STEMS}
    except (OSError, ValueError, wave.Error) as e:
        print(f"evaluate_stems: {e}", file=sys.stderr)
        return 1
    rows = [(s, truth[s], estimates[s]) for s in STEMS]
    instrumental = os.path.join(args.estimates, f"{base}_instrumental.wav")
    if os.path.exists(instrumental):
        rows.append(("instrumental", truth["other"] + truth["bass"] + truth["drums"],
                     read_wav(instrumental)))

    print(f"{'stem':<14}{'SDR (dB)':>10}{'mixture (dB)':>14}{'improvement':>13}")
    for name, reference, estimate in rows:
        separated = sdr(reference, estimate)
        baseline = sdr(reference, mix)
        print(f"{name:<14}{separated:>10.2f}{baseline:>14.2f}{separated - baseline:>+13.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
