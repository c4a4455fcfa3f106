#!/usr/bin/env python3
"""End-to-end benchmark: tollvane-play (the native build) against sox, converting the same
generated 10-minute 44100 Hz stereo 16-bit track to 48000 Hz stereo PCM, to 8000 Hz mono PCM,
to u-law and to IMA ADPCM, in one run on one machine.

tollvane-play converts per track (cfg_cvt=1, the target record in cfg_wfx, written to the INI
beside a copy of the program) as the player would, 576 frames per write. sox runs the same
conversions on the same file without dither (-D), as tollvane does not dither either. For the
rows that resample, sox runs twice: with its default rate effect (high quality) and with
`rate -q`, its cubic interpolator, the peer of tollvane's. Each command runs --runs times, the
commands of a row taking turns so that a shared machine's changing load falls on all alike; the
table shows the best and the median wall time of each and the ratio sox / tollvane of the best
times (above 1: tollvane is faster). A row whose target this tollvane-play cannot produce (it
refuses the format, or writes no file) reads "not available".

usage: end_to_end_bench.py [--program PATH] [--runs N] [--minutes M] [--work DIR] [--keep]
  --program PATH  the native tollvane-play (default: build/tollvane-play beside this folder)
  --runs N        runs of each command (default 3)
  --minutes M     length of the generated track (default 10)
  --work DIR      scratch folder (default: a temporary one, removed afterwards unless --keep)

Needs python3 and sox. About 2 minutes with the defaults on 2 cores.
"""
import argparse
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

SECTION = '[WAV Writing Output Driver]\r\n'
SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def struct_value(data):
    """The checksummed hex form the profile functions store a struct in."""
    return ''.join('%02X' % b for b in data) + '%02X' % (sum(data) & 0xFF)


def format_record(tag, channels, rate, avg, align, bits, extra=b''):
    return struct.pack('<HHIIHHH', tag, channels, rate, avg, align, bits, len(extra)) + extra


# name, target record for cfg_wfx, sox arguments between input and output, whether it resamples
ROWS = [
    ('48000 Hz stereo PCM', format_record(1, 2, 48000, 192000, 4, 16), ['-r', '48000'], True),
    ('8000 Hz mono PCM', format_record(1, 1, 8000, 16000, 2, 16), ['-r', '8000', '-c', '1'], True),
    ('u-law 44100 Hz stereo', format_record(7, 2, 44100, 88200, 2, 8), ['-e', 'u-law'], False),
    # IMA ADPCM as the ACM's codec offers it for 44100 Hz stereo: 2048-byte blocks of 2041 frames
    ('IMA ADPCM 44100 Hz stereo', format_record(0x11, 2, 44100, 44251, 2048, 4, struct.pack('<H', 2041)),
     ['-e', 'ima-adpcm'], False),
]


def timed(command, cwd):
    start = time.perf_counter()
    done = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE)
    return time.perf_counter() - start, done.returncode, done.stderr.decode('latin-1', 'replace').strip()


def seconds_of(path):
    out = subprocess.run(['soxi', '-D', path], capture_output=True, text=True)
    return float(out.stdout) if out.returncode == 0 and out.stdout.strip() else None


def cpu_model():
    try:
        with open('/proc/cpuinfo') as f:
            for line in f:
                if line.startswith('model name'):
                    return '%s, %d cores' % (line.split(':', 1)[1].strip(), os.cpu_count())
    except OSError:
        pass
    return '%d cores' % os.cpu_count()


def run_tollvane(folder, record):
    """Times one tollvane-play run converting in.wav to the record: seconds and None, or None
    and the reason it could not."""
    with open(os.path.join(folder, 'tollvane-play.ini'), 'wb') as f:
        f.write((SECTION + 'config_waveoutdir=\r\ncfg_cvt=1\r\ncfg_mode=0\r\ncfg_wfx_s=%d\r\ncfg_wfx=%s\r\n' %
                 (len(record), struct_value(record))).encode('latin-1'))
    out = os.path.join(folder, 'tollvane.wav')
    if os.path.exists(out):
        os.remove(out)
    seconds, status, errors = timed(['./tollvane-play', '--title', 'tollvane', 'in.wav'], folder)
    if status != 0 or not os.path.exists(out):
        return None, errors.splitlines()[-1] if errors else 'exit status %d' % status
    return seconds, None


def run_sox(folder, arguments, effects):
    """Times one sox run, as run_tollvane."""
    seconds, status, errors = timed(['sox', '-D', 'in.wav'] + arguments + ['sox.wav'] + list(effects), folder)
    if status != 0:
        return None, errors or 'exit status %d' % status
    return seconds, None


def time_row(folder, record, sox_arguments, resamples, runs):
    """The runs of one row, taken in turns (tollvane, sox, sox rate -q, tollvane, ...) so that a
    change of load on a shared machine falls on every command alike. Returns the times of each
    command, a list that stops at the first failure, and that failure's reason."""
    commands = [lambda: run_tollvane(folder, record), lambda: run_sox(folder, sox_arguments, ())]
    if resamples:
        commands.append(lambda: run_sox(folder, sox_arguments, ('rate', '-q')))
    times = [[] for _ in commands]
    reasons = [None for _ in commands]
    for _ in range(runs):
        for i, command in enumerate(commands):
            if reasons[i] is None:
                seconds, reasons[i] = command()
                if seconds is not None:
                    times[i].append(seconds)
    return times, reasons


def main():
    parser = argparse.ArgumentParser(description='tollvane-play against sox, end to end')
    parser.add_argument('--program', default=os.path.join(SOURCE, 'build', 'tollvane-play'))
    parser.add_argument('--runs', type=int, default=3)
    parser.add_argument('--minutes', type=float, default=10)
    parser.add_argument('--work')
    parser.add_argument('--keep', action='store_true')
    args = parser.parse_args()
    if not os.path.isfile(args.program):
        sys.exit('no tollvane-play at %s: build the native target first (cmake --build build)' % args.program)
    if not shutil.which('sox'):
        sys.exit('sox is needed (apt-get install sox)')

    folder = os.path.abspath(args.work) if args.work else tempfile.mkdtemp(prefix='tollvane-bench-')
    os.makedirs(folder, exist_ok=True)
    try:
        shutil.copy(args.program, os.path.join(folder, 'tollvane-play'))
        seconds = int(args.minutes * 60)
        # Two sweeps, one per channel, repeatable (-R): music-like enough for every converter.
        subprocess.run(['sox', '-R', '-n', '-r', '44100', '-c', '2', '-b', '16', 'in.wav', 'synth', str(seconds),
                        'sine', '100-4000', 'sine', '3000-200', 'gain', '-3'], cwd=folder, check=True)
        print('%s, %s, %s, load average %.2f at the start' % (
            time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime()), cpu_model(),
            subprocess.run(['sox', '--version'], capture_output=True, text=True).stdout.split()[-1],
            os.getloadavg()[0]))
        print('input: %d s of 44100 Hz stereo 16-bit (%.1f MB), %d runs per command, wall time in seconds'
              % (seconds, os.path.getsize(os.path.join(folder, 'in.wav')) / 1e6, args.runs))
        print()
        print('| target | tollvane best | tollvane median | sox best | sox median | sox / tollvane '
              '| sox `rate -q` best | sox `rate -q` median | sox `rate -q` / tollvane |')
        print('|---|---:|---:|---:|---:|---:|---:|---:|---:|')
        for name, record, sox_arguments, resamples in ROWS:
            times, reasons = time_row(folder, record, sox_arguments, resamples, args.runs)
            if reasons[0]:
                print('| %s | not available | | | | (%s) | | | |' % (name, reasons[0]))
                continue
            length = seconds_of(os.path.join(folder, 'tollvane.wav'))
            if length is None or abs(length - seconds) > 1:
                print('| %s | not available | | | | (tollvane wrote %s s of audio) | | | |' % (name, length))
                continue
            best = min(times[0])
            cells = ['%.2f' % best, '%.2f' % statistics.median(times[0])]
            for sox_times, reason in zip(times[1:], reasons[1:]):
                if reason:
                    cells += ['not available', '', '(sox: %s)' % reason]
                else:
                    cells += ['%.2f' % min(sox_times), '%.2f' % statistics.median(sox_times),
                              '%.2f' % (min(sox_times) / best)]
            if not resamples:
                cells += ['', '', '']
            print('| %s | %s |' % (name, ' | '.join(cells)))
            sys.stdout.flush()
    finally:
        if not args.keep and not args.work:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == '__main__':
    main()
