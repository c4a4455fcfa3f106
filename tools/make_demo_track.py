#!/usr/bin/env python3
"""Writes the demo track: three seconds of a soft A-major chord, 44100 Hz stereo 16-bit,
fading in and out, with the third note only on the right channel."""
import math
import struct
import sys
import wave

rate, seconds = 44100, 3.0
frames = int(rate * seconds)
out = bytearray()
for n in range(frames):
    t = n / rate
    envelope = min(1.0, t / 0.05, (seconds - t) / 0.5)
    a, c_sharp, e = (math.sin(2 * math.pi * f * t) for f in (440.0, 554.37, 659.25))
    left = 0.3 * envelope * (a + c_sharp) / 2
    right = 0.3 * envelope * (a + c_sharp + e) / 3
    out += struct.pack('<hh', int(left * 32767), int(right * 32767))
with wave.open(sys.argv[1], 'wb') as w:
    w.setnchannels(2)
    w.setsampwidth(2)
    w.setframerate(rate)
    w.writeframes(bytes(out))
