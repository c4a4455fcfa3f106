#!/usr/bin/env python3
"""Plays the same inputs with the same settings through the native tollvane-play and through
the Windows one under Wine, and compares every output file and the saved INI byte for byte.
The outputs are then read back by independent readers: Python's wave module and sox's soxi.

usage: compare_builds.py NATIVE_PROGRAM WINDOWS_BUILD_DIR WORK_DIR
"""
import os
import shutil
import struct
import subprocess
import sys
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'windows'))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import wine_route  # noqa: E402

native_program, windows_build, work = (os.path.abspath(a) for a in sys.argv[1:4])
SECTION = '[WAV Writing Output Driver]\r\n'


def pcm(frames, channels, bits, seed):
    width = bits // 8
    out = bytearray()
    for f in range(frames):
        for c in range(channels):
            value = ((f * (7 + c) + seed * 131) * 2654435761) & 0xFFFFFFFF
            out += value.to_bytes(4, 'little')[:width]
    return bytes(out)


def wav_file(path, rate, channels, bits, data):
    with wave.open(path, 'wb') as w:
        w.setnchannels(channels)
        w.setsampwidth(bits // 8)
        w.setframerate(rate)
        w.writeframes(data)


def struct_value(data):
    """The checksummed hex form the profile functions store a struct in."""
    return ''.join('%02X' % b for b in data) + '%02X' % (sum(data) & 0xFF)


def format_record(rate, channels, bits):
    align = channels * bits // 8
    return struct.pack('<HHIIHHH', 1, channels, rate, rate * align, align, bits, 0)


def codec_ini(tag, channels, rate, avg, align, bits, extra=b''):
    """Per-track conversion to a codec record: u-law, A-law and IMA ADPCM as the ACM lists them."""
    record = struct.pack('<HHIIHHH', tag, channels, rate, avg, align, bits, len(extra)) + extra
    return 'config_waveoutdir=\r\ncfg_cvt=1\r\ncfg_wfx_s=%d\r\ncfg_wfx=%s\r\n' % (len(record), struct_value(record))


INPUTS = {
    'stereo 16.wav': (44100, 2, 16, 5000),
    'mono 8 odd.wav': (8000, 1, 8, 1001),
    'six 24.wav': (48000, 6, 24, 2000),
    'mono 32.wav': (22050, 1, 32, 3000),
}

SCENARIOS = [
    ('per-track', 'config_waveoutdir=\r\n', [['--title', 'AC/DC: "Live" <1990>?', 'stereo 16.wav'],
                                             ['mono 8 odd.wav', 'six 24.wav', 'mono 32.wav']]),
    ('raw', 'config_waveoutdir=\r\ncfg_mode=2\r\n', [['--block', '1000', 'stereo 16.wav', 'mono 8 odd.wav']]),
    ('single-file', 'cfg_wav1=1\r\ncfg_wav1p=single.wav\r\ncfg_wfx1=%s\r\n' % struct_value(format_record(44100, 2, 16)),
     [['stereo 16.wav', 'stereo 16.wav'], ['mono 8 odd.wav', 'six 24.wav', 'mono 32.wav']]),
    ('converted', 'config_waveoutdir=\r\ncfg_cvt=1\r\ncfg_wfx_s=18\r\ncfg_wfx=%s\r\n' %
     struct_value(format_record(22050, 1, 8)), [['--block', '333', 'stereo 16.wav', 'six 24.wav', 'mono 32.wav']]),
    ('overwrite', 'config_waveoutdir=\r\n', [['stereo 16.wav'], ['--no', 'stereo 16.wav'], ['--yes', 'stereo 16.wav']]),
    # The codecs straight from the input, and through the converter from other formats.
    ('u-law', codec_ini(7, 2, 44100, 88200, 2, 8), [['stereo 16.wav', 'mono 8 odd.wav']]),
    ('a-law', codec_ini(6, 1, 8000, 8000, 1, 8), [['--block', '1000', 'stereo 16.wav', 'mono 32.wav']]),
    ('ima-adpcm', codec_ini(0x11, 2, 44100, 44251, 2048, 4, struct.pack('<H', 2041)),
     [['stereo 16.wav', 'six 24.wav']]),
]


def run_build(kind, folder, ini, runs):
    os.makedirs(os.path.join(folder, 'in'))
    for name, (rate, channels, bits, frames) in INPUTS.items():
        wav_file(os.path.join(folder, 'in', name), rate, channels, bits, pcm(frames, channels, bits, len(name)))
    if kind == 'native':
        shutil.copy(native_program, os.path.join(folder, 'tollvane-play'))
        command = ['./tollvane-play']
    else:
        shutil.copy(os.path.join(windows_build, 'tollvane-play.exe'), folder)
        shutil.copy(os.path.join(windows_build, 'out_tollvane.dll'), folder)
        command = wine_route.wine_run + ['tollvane-play.exe']
    with open(os.path.join(folder, 'tollvane-play.ini'), 'wb') as f:
        f.write((SECTION + ini).encode('latin-1'))
    statuses = []
    for args in runs:
        args = ['in/' + a if a in INPUTS else a for a in args]
        done = wine_route.run(windows_build, command + args, folder)
        statuses.append((done.returncode, done.stderr.decode('latin-1').replace('\r\n', '\n')))
    outputs = {}
    for name in sorted(os.listdir(folder)):
        if name == 'in' or name.startswith('tollvane-play') or name == 'out_tollvane.dll':
            continue
        with open(os.path.join(folder, name), 'rb') as f:
            outputs[name] = f.read()
    with open(os.path.join(folder, 'tollvane-play.ini'), 'rb') as f:
        outputs['(saved INI)'] = f.read()
    return statuses, outputs


def read_back(path):
    """Checks a WAV output with two readers that share no code with the plug-in."""
    with open(path, 'rb') as f:
        head = f.read(28)
    if head[20:22] != b'\x01\x00':  # a codec file: Python's wave reads PCM only
        soxi = [subprocess.run(['soxi', flag, path], capture_output=True, text=True).stdout.strip()
                for flag in ('-c', '-r')]
        expected = [str(v) for v in struct.unpack('<HI', head[22:28])]
        return None if soxi == expected else 'soxi says %s, the header %s' % (soxi, expected)
    with wave.open(path, 'rb') as w:
        params = (w.getnchannels(), w.getframerate(), w.getsampwidth() * 8, w.getnframes())
        frames = w.readframes(w.getnframes())
    if len(frames) != params[3] * params[0] * params[2] // 8:
        return 'wave read %d bytes of %d frames' % (len(frames), params[3])
    soxi = [subprocess.run(['soxi', flag, path], capture_output=True, text=True).stdout.strip()
            for flag in ('-c', '-r', '-b', '-s')]
    if soxi != [str(p) for p in params]:
        return 'soxi says %s, wave says %s' % (soxi, params)
    return None


def main():
    wine_route.prefix_up(windows_build, os.path.join(windows_build, 'tollvane-play.exe'))
    shutil.rmtree(work, ignore_errors=True)
    failures = 0
    checked = 0
    try:
        for name, ini, runs in SCENARIOS:
            native = run_build('native', os.path.join(work, name, 'native'), ini, runs)
            windows = run_build('windows', os.path.join(work, name, 'windows'), ini, runs)
            problems = []
            if [s for s, _ in native[0]] != [s for s, _ in windows[0]]:
                problems.append('exit statuses differ: native %s, Windows %s' % (native[0], windows[0]))
            if sorted(native[1]) != sorted(windows[1]):
                problems.append('files differ: native %s, Windows %s' % (sorted(native[1]), sorted(windows[1])))
            for file in sorted(set(native[1]) & set(windows[1])):
                checked += 1
                if native[1][file] != windows[1][file]:
                    problems.append('%s: native and Windows bytes differ' % file)
                elif file.endswith('.wav'):
                    problem = read_back(os.path.join(work, name, 'native', file))
                    if problem:
                        problems.append('%s: %s' % (file, problem))
            if len(native[1]) < 2:
                problems.append('no output files')
            print('%-12s %d files %s' % (name, len(native[1]), 'identical' if not problems else 'DIFFER'))
            for p in problems:
                print('    ' + p)
            failures += bool(problems)
    finally:
        wine_route.prefix_down(windows_build)
    print('%d passed, %d failed' % (len(SCENARIOS) - failures, failures))
    return 1 if failures else 0


sys.exit(main())
