#!/usr/bin/env python3
"""Converts one generated track through the Windows tollvane-play under Wine into every codec
that Wine's ACM offers, and reads each file back with sox, which shares no code with Wine or
the plug-in: the decoded signal must be recognisably the input (correlated with sox's own
conversion of the input to the same rate and channels), as long as the input, and counted by
the fact chunk. MS ADPCM, which Wine cannot encode, must fail cleanly and leave no file. Then
the IMA ADPCM record with each field set in turn to 0, 1, odd values and its maximum (a hand-edited
INI), through the shapes of the pipeline: every run must end in a refusal or in a file sox
decodes, never in a crash.

usage: real_codecs.py WINDOWS_BUILD_DIR WORK_DIR
"""
import math
import os
import shutil
import struct
import subprocess
import sys
import wave

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import wine_route  # noqa: E402 (beside this script)

windows_build, work = (os.path.abspath(a) for a in sys.argv[1:3])
RATE, FRAMES = 44100, 44100 * 3 // 2  # 1.5 s of stereo 16-bit


def record(tag, channels, rate, avg, align, bits, extra=b''):
    return struct.pack('<HHIIHHH', tag, channels, rate, avg, align, bits, len(extra)) + extra


# name: (record, the shape the ACM leaves the plug-in, samples per codec block)
CODECS = {
    'ima-adpcm': (record(0x11, 2, 44100, 44251, 2048, 4, struct.pack('<H', 2041)), 'direct', 2041),
    'u-law': (record(7, 2, 44100, 88200, 2, 8), 'direct', 1),
    'a-law': (record(6, 2, 44100, 88200, 2, 8), 'direct', 1),
    'u-law 8k mono': (record(7, 1, 8000, 8000, 1, 8), 'converter first', 1),
    'a-law 22k': (record(6, 2, 22050, 44100, 2, 8), 'converter first', 1),
    'gsm 6.10': (record(0x31, 1, 8000, 1625, 65, 0, struct.pack('<H', 320)), 'converter first', 320),
}
REFUSED = {'ms-adpcm': record(2, 2, 44100, 44359, 2048, 4, bytes(32))}


def struct_value(data):
    return ''.join('%02X' % b for b in data) + '%02X' % (sum(data) & 0xFF)


def make_input(path, rate=RATE, channels=2, frames=FRAMES):
    with wave.open(path, 'wb') as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(b''.join(struct.pack('<hh', int(9000 * math.sin(2 * math.pi * 440 * i / rate)),
                                           int(7000 * math.sin(2 * math.pi * 554 * i / rate + 1)))[:2 * channels]
                               for i in range(frames)))


# The fields of the IMA ADPCM record (offset, bytes) and the values each is set to in turn.
FIELDS = {'wFormatTag': (0, 2), 'nChannels': (2, 2), 'nSamplesPerSec': (4, 4), 'nAvgBytesPerSec': (8, 4),
          'nBlockAlign': (12, 2), 'wBitsPerSample': (14, 2), 'cbSize': (16, 2), 'samples per block': (18, 2)}
# The input of each shape: the codec takes it as it is, or only after the sample converter.
SHAPES = {'direct': (44100, 2), 'converter first': (48000, 1)}


def mutated_records():
    base = CODECS['ima-adpcm'][0]
    for field, (offset, size) in FIELDS.items():
        for value in (0, 1, 3, 1001, (1 << (8 * size)) - 1):
            yield '%s %d' % (field, value), base[:offset] + value.to_bytes(size, 'little') + base[offset + size:]


def play(folder, name, rec, input_format=(RATE, 2), frames=FRAMES):
    os.makedirs(folder)
    for f in ('tollvane-play.exe', 'out_tollvane.dll'):
        shutil.copy(os.path.join(windows_build, f), folder)
    make_input(os.path.join(folder, 'in.wav'), input_format[0], input_format[1], frames)
    with open(os.path.join(folder, 'tollvane-play.ini'), 'wb') as f:
        f.write(('[WAV Writing Output Driver]\r\nconfig_waveoutdir=\r\ncfg_cvt=1\r\ncfg_mode=1\r\n'
                 'cfg_wfx_s=%d\r\ncfg_wfx=%s\r\n' % (len(rec), struct_value(rec))).encode())
    done = wine_route.run(windows_build, wine_route.wine_run + ['tollvane-play.exe', '--title', 'out', 'in.wav'],
                          folder)
    return done.returncode, done.stderr.decode('latin-1'), os.path.join(folder, 'out.wav')


def samples(path, rate, channels):
    raw = subprocess.run(['sox', path, '-t', 'raw', '-e', 'signed', '-b', '16', '-r', str(rate), '-c', str(channels),
                          '-'], capture_output=True, check=True).stdout
    return struct.unpack('<%dh' % (len(raw) // 2), raw)


def best_correlation(a, b, channels):
    """Normalised correlation of two interleaved signals, at the best lag of up to 4 frames."""
    best = -1.0
    n = min(len(a), len(b)) - 8 * channels
    for lag in range(-4, 5):
        s = lag * channels
        pairs = [(a[i], b[i + s]) for i in range(8 * channels, n)]
        num = sum(x * y for x, y in pairs)
        den = math.sqrt(sum(x * x for x, _ in pairs) * sum(y * y for _, y in pairs)) or 1.0
        best = max(best, num / den)
    return best


def fact_value(path):
    data = open(path, 'rb').read()
    at = 12
    while at + 8 <= len(data):
        tag, size = data[at:at + 4], struct.unpack('<I', data[at + 4:at + 8])[0]
        if tag == b'fact':
            return struct.unpack('<I', data[at + 8:at + 12])[0]
        at += 8 + size + (size & 1)
    return None


def mutations():
    """1 if any mutated record crashed the player or was written into a file sox cannot decode."""
    refused = decoded = 0
    problems = []
    for shape, input_format in SHAPES.items():
        for name, rec in mutated_records():
            folder = os.path.join(work, 'mutations', shape, name)
            rc, err, path = play(folder, name, rec, input_format, frames=input_format[0] // 10)
            if rc == 1 and 'Tollvane v1.4: ' in err:
                refused += 1
            elif rc == 0 and os.path.exists(path):
                done = subprocess.run(['sox', path, '-t', 'raw', '-'], capture_output=True)
                if done.returncode == 0:
                    decoded += 1
                else:
                    problems.append('%s, %s: written, but sox cannot decode it: %s'
                                    % (shape, name, done.stderr.decode('latin-1').strip()))
            else:
                problems.append('%s, %s: exit %d: %s' % (shape, name, rc, err.strip()[-300:]))
            if not problems or not problems[-1].startswith('%s, %s:' % (shape, name)):
                shutil.rmtree(folder)
    print('%-14s %-16s %s' % ('mutations', '%d records' % (refused + decoded + len(problems)),
                              'ok, %d refused, %d decoded by sox' % (refused, decoded) if not problems else 'FAILED'))
    for p in problems:
        print('    ' + p)
    return 1 if problems else 0


def main():
    wine_route.prefix_up(windows_build, os.path.join(windows_build, 'tollvane-play.exe'))
    shutil.rmtree(work, ignore_errors=True)
    failures = 0
    try:
        for name, (rec, shape, block) in CODECS.items():
            channels, rate = struct.unpack('<HI', rec[2:8])
            rc, err, path = play(os.path.join(work, name), name, rec)
            problems = []
            if rc != 0 or not os.path.exists(path):
                problems.append('tollvane-play exit %d: %s' % (rc, err.strip()))
            else:
                decoded = samples(path, rate, channels)
                reference = samples(os.path.join(work, name, 'in.wav'), rate, channels)
                frames, expected = len(decoded) // channels, FRAMES * rate // RATE
                # The last codec block is padded with silence: up to one block more, never less.
                if not expected - 2 <= frames <= expected + block + 1:
                    problems.append('%d frames decoded, %d played' % (frames, expected))
                fact = fact_value(path)
                if fact is None or abs(fact - expected) > 1:
                    problems.append('fact %s, %d frames played' % (fact, expected))
                corr = best_correlation(decoded, reference, channels)
                if corr < 0.9:
                    problems.append('correlation with the input only %.3f' % corr)
            print('%-14s %-16s %s' % (name, shape, ('ok, correlation %.3f' % corr) if not problems else 'FAILED'))
            for p in problems:
                print('    ' + p)
            failures += bool(problems)
        for name, rec in REFUSED.items():
            rc, err, path = play(os.path.join(work, name), name, rec)
            ok = rc == 1 and 'Error initializing output.' in err and not os.path.exists(path)
            print('%-14s %-16s %s' % (name, 'refused', 'ok' if ok else 'FAILED: exit %d, %s' % (rc, err.strip())))
            failures += not ok
        failures += mutations()
    finally:
        wine_route.prefix_down(windows_build)
    total = len(CODECS) + len(REFUSED) + 1
    print('%d passed, %d failed' % (total - failures, failures))
    return 1 if failures else 0


sys.exit(main())
