#!/usr/bin/env bash
# Makes the shared test media set into the directory given as $1.
# Every file is short and deterministic; lengths are exact sample counts.
set -euo pipefail
out=${1:?usage: make_test_media.sh OUT_DIR}
mkdir -p "$out"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# A tone pair: 440 Hz left, 660 Hz right, at half scale.
stereo_tone() { echo "aevalsrc=0.5*sin(2*PI*440*t)|0.5*sin(2*PI*660*t):s=$1:c=stereo"; }
mono_tone() { echo "aevalsrc=0.5*sin(2*PI*440*t):s=$1:c=mono"; }
trim() { echo "atrim=end_sample=$1"; }

ff -f lavfi -i "$(stereo_tone 44100)" -af "$(trim 88200)" -c:a pcm_s16le "$out/stereo_44k_2s.wav"
ff -f lavfi -i "$(stereo_tone 44100)" -af "$(trim 441000)" -c:a pcm_s16le "$out/stereo_44k_10s.wav"
ff -f lavfi -i "$(mono_tone 44100)" -af "$(trim 88200)" -c:a pcm_s16le "$out/mono_44k_2s.wav"
ff -f lavfi -i "$(stereo_tone 48000)" -af "$(trim 96000)" -c:a pcm_s16le "$out/stereo_48k_2s.wav"
ff -f lavfi -i "$(mono_tone 48000)" -af "$(trim 96000)" -c:a libmp3lame -b:a 128k "$out/mono_48k_2s.mp3"
ff -f lavfi -i "$(stereo_tone 44100)" -af "$(trim 88200)" -c:a flac "$out/stereo_2s.flac"
# The same written to a pipe: its header states no length.
ff -f lavfi -i "$(stereo_tone 44100)" -af "$(trim 88200)" -c:a flac -f flac pipe:1 \
   > "$out/stereo_2s_streamed.flac"
# Shortest accepted input and one frame less, in float so decoding is exact.
ff -f lavfi -i "$(stereo_tone 44100)" -af "$(trim 4410)" -c:a pcm_f32le "$out/stereo_4410.wav"
ff -f lavfi -i "$(stereo_tone 44100)" -af "$(trim 4409)" -c:a pcm_f32le "$out/stereo_4409.wav"
# Video with an audio track, and video alone.
ff -f lavfi -i "testsrc=size=64x48:rate=10:duration=2" -f lavfi -i "$(stereo_tone 44100)" \
   -af "$(trim 88200)" -c:v mpeg4 -c:a aac -shortest "$out/video_audio.mp4"
ff -f lavfi -i "testsrc=size=64x48:rate=10:duration=2" -c:v mpeg4 "$out/video_only.mp4"
# Plain text is no media.
printf 'this is not an audio file\n' > "$out/not_media.txt"
# One second of stereo MP3 followed by one second of mono MP3 in one stream:
# the decoder changes its channel count in the middle.
ff -f lavfi -i "$(stereo_tone 44100)" -af "$(trim 44100)" -c:a libmp3lame -b:a 128k \
   -write_xing 0 -id3v2_version 0 "$out/part_stereo.mp3"
ff -f lavfi -i "$(mono_tone 44100)" -af "$(trim 44100)" -c:a libmp3lame -b:a 128k \
   -write_xing 0 -id3v2_version 0 "$out/part_mono.mp3"
cat "$out/part_stereo.mp3" "$out/part_mono.mp3" > "$out/stereo_then_mono.mp3"
rm -f "$out/part_stereo.mp3" "$out/part_mono.mp3"
