#!/usr/bin/python3
"""Makes the demo song: a 30-second stereo piece and its four true stems.

    make_demo_song.py OUT_DIR

writes OUT_DIR/demo_song.wav (the mix) and OUT_DIR/true/{vocals,other,bass,
drums}.wav, all 16-bit stereo at 44.1 kHz. The mix is the exact sample-wise
sum of the four stems, so a separation can be scored against them.

The piece is A minor, 120 beats per minute, Am-F-C-G, fifteen bars:
  - drums near the centre: kick, snare and hi-hats (the hats a little right);
  - bass in the centre: a warm line on the chord roots, below 250 Hz;
  - other instruments off the centre: a pad on the left, a plucked
    arpeggio on the right;
  - vocals in the centre: a sung vowel line with vibrato, glides and changing
    vowels, in three phrases.
Everything is synthesised from fixed seeds, so every run gives the same files.
"""
import os
import sys
import wave

import numpy as np

RATE = 44100
SECONDS = 30.0
N = int(RATE * SECONDS)
BEAT = 0.5  # seconds, 120 beats per minute
BAR = 4 * BEAT
N_BARS = 15

# Chord per bar: root of the bass (MIDI), and the pad voicing (MIDI).
PROGRESSION = [
    (33, (60, 64, 69)),  # A minor
    (29, (60, 65, 69)),  # F major
    (36, (60, 64, 67)),  # C major
    (31, (59, 62, 67)),  # G major
]


def hz(midi):
    return 440.0 * 2.0 ** ((np.asarray(midi, dtype=np.float64) - 69.0) / 12.0)


def at(seconds):
    return int(round(seconds * RATE))


def envelope(n, attack, release, sustain_decay=None):
    """Attack-sustain-release envelope of n samples (times in seconds)."""
    t = np.arange(n) / RATE
    env = np.ones(n)
    a = max(1, at(attack))
    env[:a] = np.linspace(0.0, 1.0, a, endpoint=False)
    if sustain_decay is not None:
        env *= np.exp(-t / sustain_decay)
    r = min(n, max(1, at(release)))
    env[n - r:] *= np.linspace(1.0, 0.0, r)
    return env


def add(track, start, sound):
    s = at(start)
    end = min(N, s + len(sound))
    if end > s:
        track[s:end] += sound[: end - s]


# ---------------------------------------------------------------- drums

def kick(rng):
    n = at(0.35)
    t = np.arange(n) / RATE
    freq = 45.0 + 75.0 * np.exp(-t / 0.04)
    phase = 2 * np.pi * np.cumsum(freq) / RATE
    body = np.sin(phase) * np.exp(-t / 0.12)
    click = rng.standard_normal(n) * np.exp(-t / 0.004) * 0.3
    return body + click


def snare(rng):
    n = at(0.3)
    t = np.arange(n) / RATE
    noise = rng.standard_normal(n)
    # Brighten the noise: first difference tilts it towards the highs.
    noise = np.concatenate(([0.0], np.diff(noise))) * 0.6 + noise * 0.4
    tone = np.sin(2 * np.pi * 185.0 * t) * np.exp(-t / 0.05)
    return 0.55 * noise * np.exp(-t / 0.07) + 0.5 * tone


def hihat(rng, open_hat):
    n = at(0.4 if open_hat else 0.08)
    t = np.arange(n) / RATE
    noise = rng.standard_normal(n)
    for _ in range(2):  # two first differences: a steep tilt to the highs
        noise = np.concatenate(([0.0], np.diff(noise)))
    return 0.25 * noise * np.exp(-t / (0.12 if open_hat else 0.018))


def drums():
    rng = np.random.default_rng(11)
    left = np.zeros(N)
    right = np.zeros(N)
    k, s = kick(rng), snare(rng)
    for bar in range(2, N_BARS):  # the drums enter on the third bar
        t0 = bar * BAR
        for beat in (0, 2):
            add(left, t0 + beat * BEAT, k)
            add(right, t0 + beat * BEAT, k)
        if bar % 2 == 1:
            add(left, t0 + 2.5 * BEAT, 0.7 * k)
            add(right, t0 + 2.5 * BEAT, 0.7 * k)
        for beat in (1, 3):
            add(left, t0 + beat * BEAT, 0.95 * s)
            add(right, t0 + beat * BEAT, 1.05 * s)
        for eighth in range(8):
            h = hihat(rng, open_hat=(eighth == 7 and bar % 4 == 3))
            accent = 1.0 if eighth % 2 == 0 else 0.7
            add(left, t0 + eighth * BEAT / 2, 0.75 * accent * h)
            add(right, t0 + eighth * BEAT / 2, 1.2 * accent * h)
    return left, right


# ---------------------------------------------------------------- bass

def bass():
    track = np.zeros(N)
    # Steps of the pattern in beats: (start, length, interval above the root).
    pattern = [(0.0, 0.9, 0), (1.0, 0.45, 0), (1.5, 0.45, 12), (2.0, 0.9, 0), (3.0, 0.9, 7)]
    harmonics = [1.0, 0.45, 0.22, 0.1, 0.05]
    for bar in range(N_BARS):
        root = PROGRESSION[bar % 4][0]
        for start, length, interval in pattern:
            n = at(length * BEAT)
            t = np.arange(n) / RATE
            f = hz(root + interval)
            tone = sum(a * np.sin(2 * np.pi * f * (h + 1) * t) for h, a in enumerate(harmonics))
            add(track, bar * BAR + start * BEAT, tone * envelope(n, 0.01, 0.04, sustain_decay=1.5))
    return track, track.copy()


# ---------------------------------------------------------------- other

def pad():
    track = np.zeros(N)
    for bar in range(N_BARS):
        n = at(BAR)
        t = np.arange(n) / RATE
        chord = np.zeros(n)
        for note in PROGRESSION[bar % 4][1]:
            for detune in (-0.06, 0.06):  # two slightly detuned voices
                f = hz(note + detune)
                for h in range(1, 13):
                    chord += np.sin(2 * np.pi * f * h * t + h * 0.7) / h ** 1.6
        add(track, bar * BAR, chord * envelope(n, 0.25, 0.25))
    return track


def pluck_arpeggio():
    track = np.zeros(N)
    for bar in range(1, N_BARS):
        notes = [m + 12 for m in PROGRESSION[bar % 4][1]]
        order = [0, 1, 2, 1, 0, 2, 1, 2]
        for i, k in enumerate(order):
            n = at(0.6)
            t = np.arange(n) / RATE
            f = hz(notes[k])
            tone = np.zeros(n)
            for h in range(1, 9):
                tone += np.sin(2 * np.pi * f * h * t) * np.exp(-t * (3.0 + 2.5 * h)) / h
            add(track, bar * BAR + i * BEAT / 2, tone * envelope(n, 0.003, 0.05))
    return track


def other():
    p, a = pad(), pluck_arpeggio()
    # The pad sits on the left, the arpeggio on the right.
    return 0.9 * p + 0.3 * a, 0.3 * p + 0.9 * a


# ---------------------------------------------------------------- vocals

# Formants (Hz) and their bandwidths for a few sung vowels.
VOWELS = {
    "a": ((800, 1150, 2900), (80, 90, 120)),
    "e": ((400, 1700, 2600), (60, 80, 100)),
    "i": ((300, 2200, 3000), (50, 90, 120)),
    "o": ((450, 800, 2830), (70, 80, 100)),
    "u": ((325, 700, 2530), (50, 60, 170)),
}

# Phrases: (start bar, [(MIDI note or None for a rest, beats, vowel), ...]).
PHRASES = [
    (3, [(69, 1, "a"), (72, 1, "a"), (71, 0.5, "e"), (69, 0.5, "e"), (67, 1, "o"),
         (69, 2, "a"), (64, 1, "e"), (65, 1, "i"),
         (67, 1.5, "o"), (65, 0.5, "o"), (64, 2, "a"), (None, 2, None),
         (60, 1, "u"), (62, 1, "o"), (64, 2, "a")]),
    (8, [(76, 1, "a"), (74, 1, "e"), (72, 1, "a"), (71, 1, "o"),
         (72, 2, "a"), (69, 2, "e"),
         (67, 1, "i"), (69, 1, "a"), (71, 1, "o"), (72, 1, "a"),
         (74, 3, "o"), (None, 1, None)]),
    (12, [(69, 1, "a"), (67, 1, "o"), (65, 1, "e"), (64, 1, "a"),
          (65, 1, "i"), (67, 1, "o"), (69, 2, "a"),
          (69, 3.5, "a")]),
]


def vocal_phrase(notes):
    beats = sum(b for _, b, _ in notes)
    n = at(beats * BEAT)
    t = np.arange(n) / RATE
    midi = np.zeros(n)
    amp = np.zeros(n)
    formants = np.zeros((n, 3))
    widths = np.zeros((n, 3))
    since_onset = np.zeros(n)
    pos = 0
    last_note = None
    for note, b, vowel in notes:
        m = at(b * BEAT)
        seg = slice(pos, pos + m)
        if note is None:  # a rest holds the last pitch and vowel, silently
            midi[seg] = last_note
            formants[seg] = formants[pos - 1]
            widths[seg] = widths[pos - 1]
        else:
            midi[seg] = note
            amp[seg] = envelope(m, 0.04, 0.08)
            f, w = VOWELS[vowel]
            formants[seg] = f
            widths[seg] = w
            since_onset[seg] = np.arange(m) / RATE
            last_note = note
        pos += m
    # Glides between notes and smooth vowel changes: a short moving average.
    def smooth(x, seconds):
        k = max(1, at(seconds))
        padded = np.pad(x, [(k // 2, k - 1 - k // 2)] + [(0, 0)] * (x.ndim - 1), mode="edge")
        c = np.cumsum(np.concatenate([np.zeros((1,) + x.shape[1:]), padded]), axis=0)
        return (c[k:] - c[:-k]) / k
    midi = smooth(midi, 0.05)
    formants = smooth(formants, 0.06)
    widths = smooth(widths, 0.06)
    # Vibrato fades in after the onset of each note.
    depth = 0.35 * np.clip((since_onset - 0.15) / 0.25, 0.0, 1.0)
    midi = midi + depth * np.sin(2 * np.pi * 5.5 * t)
    f0 = hz(midi)
    phase = 2 * np.pi * np.cumsum(f0) / RATE
    voice = np.zeros(n)
    for h in range(1, 40):
        fh = h * f0
        if fh.min() > 7000:
            break
        gain = np.zeros(n)
        for j in range(3):
            bw = np.maximum(widths[:, j], 1.0)
            gain += (1.0 / (1.0 + ((fh - formants[:, j]) / bw) ** 2)) * (0.8 ** j)
        source = 1.0 / h  # a glottal source falls with harmonic number
        voice += source * (0.05 + gain) * np.sin(h * phase)
    return voice * amp


def vocals():
    track = np.zeros(N)
    for bar, notes in PHRASES:
        add(track, bar * BAR, vocal_phrase(notes))
    return track, track.copy()


# ---------------------------------------------------------------- mix

def rms(x):
    return float(np.sqrt(np.mean(np.square(x))))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_demo_song.py OUT_DIR")
    out = sys.argv[1]
    stems = {"vocals": vocals(), "other": other(), "bass": bass(), "drums": drums()}
    # Loudness of each stem relative to the others (RMS over both channels).
    levels = {"vocals": 1.0, "other": 0.6, "bass": 0.7, "drums": 0.8}
    scaled = {}
    for name, (l, r) in stems.items():
        both = np.stack([l, r], axis=1)
        scaled[name] = both * (levels[name] / rms(both))
    # A short fade at the very end, then leave headroom: mix peak at -6 dBFS.
    fade = np.ones(N)
    tail = at(0.5)
    fade[N - tail:] = np.linspace(1.0, 0.0, tail)
    mix = sum(scaled.values())
    gain = 0.5 / np.max(np.abs(mix * fade[:, None]))
    ints = {name: np.round(x * fade[:, None] * gain * 32767).astype(np.int32)
            for name, x in scaled.items()}
    mix_int = sum(ints.values())
    assert np.max(np.abs(mix_int)) < 32767, "the mix would clip"
    os.makedirs(os.path.join(out, "true"), exist_ok=True)
    write_wav(os.path.join(out, "demo_song.wav"), mix_int)
    for name, x in ints.items():
        write_wav(os.path.join(out, "true", name + ".wav"), x)


def write_wav(path, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(samples.astype("<i2").tobytes())


if __name__ == "__main__":
    main()
