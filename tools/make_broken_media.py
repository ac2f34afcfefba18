#!/usr/bin/python3
"""Makes the broken-media corpus into the directory given as the argument.

Every file is deterministic (fixed seeds, fixed encoder settings), small, and
aimed at one way an input can go wrong: cut short, damaged, empty, lying in
its header, or merely unusual (many channels, high rates, tiny rates, a video
whose audio track is a single frame). The robustness tests run each file
through probe and separate; tests/robustness/broken_media_test.cpp lists the
outcome expected of every name made here.

Usage: make_broken_media.py OUT_DIR
"""
import os
import random
import struct
import subprocess
import sys
import tempfile


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", *args],
                   check=True)


def tone(rate, channels):
    """A quiet tone per channel (440, 550, 660 Hz ...) as a lavfi source."""
    parts = "|".join(f"0.3*sin(2*PI*{440 + 110 * c}*t)" for c in range(channels))
    return f"aevalsrc={parts}:s={rate}:c={channels}c"


def encode(path, rate, channels, frames, *codec_args):
    ffmpeg("-f", "lavfi", "-i", tone(rate, channels), "-af", f"atrim=end_sample={frames}",
           *codec_args, path)


def wav_header(channels, rate, bits, data_bytes, fmt_tag=1, fmt_size=16, riff_size=None):
    """A canonical RIFF/WAVE header whose fields may lie."""
    block_align = (channels * bits // 8) & 0xFFFF
    byte_rate = (rate * block_align) & 0xFFFFFFFF
    fmt = struct.pack("<HHIIHH", fmt_tag, channels, rate, byte_rate, block_align, bits)
    if riff_size is None:
        riff_size = (4 + 8 + fmt_size + 8 + data_bytes) & 0xFFFFFFFF
    return (b"RIFF" + struct.pack("<I", riff_size) + b"WAVE" + b"fmt " +
            struct.pack("<I", fmt_size) + fmt + b"data" + struct.pack("<I", data_bytes))


def pcm16_tone(channels, frames, rate=44100):
    out = bytearray()
    rng = random.Random(7)
    for n in range(frames):
        for c in range(channels):
            out += struct.pack("<h", int(8000 * ((n * (c + 3)) % 200 - 100) / 100) +
                               rng.randint(-50, 50))
    return bytes(out)


def flip_bits(data, count, seed, start=0):
    """Flips `count` bits at seeded positions from byte `start` on."""
    rng = random.Random(seed)
    out = bytearray(data)
    for _ in range(count):
        pos = rng.randrange(start, len(out))
        out[pos] ^= 1 << rng.randrange(8)
    return bytes(out)


def mp3_frame_offsets(data):
    """Offsets of MPEG-1 layer III frame headers (sync word 0xFFFB/0xFFFA)."""
    offsets = []
    pos = 0
    while pos + 4 <= len(data):
        if data[pos] == 0xFF and data[pos + 1] in (0xFA, 0xFB):
            offsets.append(pos)
            pos += 4
        else:
            pos += 1
    return offsets


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1])
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)

    def put(name, data):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)

    with tempfile.TemporaryDirectory() as tmp:
        def made(name, *args, rate=44100, channels=2, frames=88200):
            path = os.path.join(tmp, name)
            encode(path, rate, channels, frames, *args)
            with open(path, "rb") as f:
                return f.read()

        wav = made("base.wav", "-c:a", "pcm_s16le")
        mp3 = made("base.mp3", "-c:a", "libmp3lame", "-b:a", "128k")
        flac = made("base.flac", "-c:a", "flac")
        ogg = made("base.ogg", "-c:a", "libvorbis", "-q:a", "2")

        # Nothing, or a header and nothing after it.
        put("empty.wav", b"")
        put("header_only.wav", wav_header(2, 44100, 16, 0))
        put("header_claims_data.wav", wav_header(2, 44100, 16, 1 << 20))
        put("header_cut.wav", wav[:20])

        # Headers that lie about the format; each is followed by 2 s of data.
        body = pcm16_tone(2, 88200)
        put("zero_channels.wav", wav_header(0, 44100, 16, len(body)) + body)
        put("rate_zero.wav", wav_header(2, 0, 16, len(body)) + body)
        put("rate_max.wav", wav_header(2, 0xFFFFFFFF, 16, len(body)) + body)
        # 1 Hz: every input frame becomes 44100 output frames, so a short data
        # chunk (40 frames) must still end as an ordinary, bounded separation.
        put("rate_one_hz.wav", wav_header(2, 1, 16, 160) + body[:160])
        put("bits_zero.wav", wav_header(2, 44100, 0, len(body)) + body)
        put("bits_odd.wav", wav_header(2, 44100, 13, len(body)) + body)
        put("format_tag_unknown.wav", wav_header(2, 44100, 16, len(body), fmt_tag=0x7777) + body)
        put("channels_65535.wav", wav_header(65535, 44100, 16, len(body)) + body)
        put("fmt_size_huge.wav", wav_header(2, 44100, 16, len(body), fmt_size=0xFFFFFFF0) + body)
        put("riff_size_zero.wav", wav_header(2, 44100, 16, len(body), riff_size=0) + body)
        # Data chunk that claims less than the file holds: 1 frame.
        put("data_size_one_frame.wav", wav_header(2, 44100, 16, 4) + body)

        # Float samples that are not numbers, infinite, or far beyond full scale.
        specials = [float("nan"), float("inf"), float("-inf"), 3.0e38, -3.0e38, 1.0e-45]
        samples = []
        for n in range(88200):
            samples.append(specials[n % len(specials)] if n % 97 == 0 else 0.25)
            samples.append(0.25 if n % 89 else specials[(n // 89) % len(specials)])
        fbody = struct.pack(f"<{len(samples)}f", *samples)
        put("float_nan_inf.wav", wav_header(2, 44100, 32, len(fbody), fmt_tag=3) + fbody)

        # Cut short at several points.
        put("wav_cut_half.wav", wav[:len(wav) // 2])
        # One frame and a byte short of the shortest accepted input.
        put("wav_cut_short.wav", wav_header(2, 44100, 16, len(body)) + body[:4409 * 4 + 3])
        for pct in (1, 10, 50, 90):
            put(f"mp3_cut_{pct}pct.mp3", mp3[:len(mp3) * pct // 100])
        put("flac_cut_half.flac", flac[:len(flac) // 2])
        put("flac_cut_header.flac", flac[:60])
        put("ogg_cut_half.ogg", ogg[:len(ogg) // 2])

        # Damaged bits: the header is left alone in some, hit in others.
        put("wav_bitflip.wav", flip_bits(wav, 64, 1))
        put("mp3_bitflip.mp3", flip_bits(mp3, 64, 2))
        put("flac_bitflip.flac", flip_bits(flac, 64, 3, start=200))
        put("ogg_bitflip.ogg", flip_bits(ogg, 64, 4, start=200))

        # MP3 frames replaced by garbage that still starts with a sync word.
        garbled = bytearray(mp3)
        rng = random.Random(5)
        for off in mp3_frame_offsets(mp3)[5::4]:
            for i in range(4, 200):
                if off + i < len(garbled):
                    garbled[off + i] = rng.randrange(256)
        put("mp3_garbage_frames.mp3", bytes(garbled))
        put("mp3_only_garbage.mp3", bytes(b"\xff\xfb\x90\x64" + bytes(rng.randrange(256)
                                                                     for _ in range(413)))
            * 60)

        # Not media at all.
        put("random_bytes.bin", bytes(random.Random(6).randrange(256) for _ in range(65536)))
        put("text.wav", b"this is a text file with a .wav name\n" * 100)

        # Unusual but valid inputs, which must separate.
        put("eight_channels.wav", made("8ch.wav", "-c:a", "pcm_s16le", channels=8))
        put("hires_96k_24bit.wav", made("96k.wav", "-c:a", "pcm_s24le", rate=96000,
                                        frames=192000))
        put("hires_96k_24bit.flac", made("96k.flac", "-c:a", "flac", "-sample_fmt", "s32",
                                         rate=96000, frames=192000))
        put("mono_8k.wav", made("8k.wav", "-c:a", "pcm_s16le", rate=8000, channels=1,
                                frames=16000))

        # A video whose audio track is one AAC frame (1024 samples): too short.
        video = os.path.join(tmp, "one_frame.mp4")
        ffmpeg("-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=2",
               "-f", "lavfi", "-i", tone(44100, 2), "-af", "atrim=end_sample=1024",
               "-c:v", "mpeg4", "-c:a", "aac", video)
        with open(video, "rb") as f:
            put("video_one_audio_frame.mp4", f.read())
        # The same kind of file with its index (at the end) cut off.
        with_audio = made("av.mp4", "-c:a", "aac")
        put("mp4_cut_half.mp4", with_audio[:len(with_audio) // 2])


if __name__ == "__main__":
    main()
