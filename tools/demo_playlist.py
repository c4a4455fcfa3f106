#!/usr/bin/env python3
"""Writes the demo's playlist into the folder given: three short tracks of one made-up album,
each in another format, as a player may well have them in one playlist. The file names are
the titles; they sort in playlist order."""
import math
import os
import sys
import wave

ARTIST = 'Lowmoor'
# title, rate, bits, channels, seconds, notes (Hz) played one after another
TRACKS = [
    ('Harbour Lights', 44100, 16, 2, 3.0, [220.0, 277.18, 329.63, 440.0]),
    ('Night Ferry', 22050, 8, 1, 2.0, [392.0, 329.63, 293.66, 261.63]),
    ('Tollgate', 96000, 24, 2, 2.5, [146.83, 220.0, 293.66, 369.99, 440.0]),
]


def sample_bytes(value, bits):
    """One sample of value in [-1, 1) as a WAV file stores it: 8-bit unsigned, wider signed."""
    peak = 1 << (bits - 1)
    level = max(-peak, min(peak - 1, int(value * peak)))
    if bits == 8:
        return bytes([level + 128])
    return level.to_bytes(bits // 8, 'little', signed=True)


def track_frames(rate, bits, channels, seconds, notes):
    """Plucked notes, each fading out; in stereo the second voice an octave up on the right."""
    frames = int(rate * seconds)
    note_frames = frames // len(notes)
    out = bytearray()
    for n in range(frames):
        note = notes[min(n // note_frames, len(notes) - 1)]
        t = (n % note_frames) / rate
        level = 0.4 * math.exp(-3.0 * t) * min(1.0, t / 0.005)
        low = level * math.sin(2 * math.pi * note * t)
        high = level * math.sin(4 * math.pi * note * t)
        voices = [(low + high) / 2] if channels == 1 else [low, (low + high) / 2]
        for value in voices:
            out += sample_bytes(value, bits)
    return bytes(out)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for title, rate, bits, channels, seconds, notes in TRACKS:
        with wave.open(os.path.join(folder, f'{ARTIST} - {title}.wav'), 'wb') as w:
            w.setnchannels(channels)
            w.setsampwidth(bits // 8)
            w.setframerate(rate)
            w.writeframes(track_frames(rate, bits, channels, seconds, notes))


if __name__ == '__main__':
    main()
