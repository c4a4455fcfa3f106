#!/usr/bin/env python3
"""End-to-end benchmark: tollvane-play (the native build) against sox and ffmpeg, converting the
same generated 10-minute 44100 Hz stereo 16-bit track to 48000 Hz stereo PCM, to 8000 Hz mono PCM,
to u-law and to IMA ADPCM, in one run on one machine, beside the I/O floor.

tollvane-play converts per track (cfg_cvt=1, the target record in cfg_wfx, written to the INI
beside a copy of the program) as the player would, 576 frames per write. sox runs the same
conversions on the same file without dither (-D), as tollvane does not dither either; for the
rows that resample it runs twice: with its default rate effect (high quality) and with `rate -q`,
its cubic interpolator, the peer of tollvane's. ffmpeg (where installed) runs each row with its
defaults. The I/O floor (io_floor, built beside tollvane-play) does what tollvane-play and the
plug-in must do whatever the conversion costs: the same reads (tollvane-play's own WAV reader),
one write of the converted size
and one yield per 576-frame block, no computation; it stands for the PCM and u-law rows, where
every block is one write (an IMA ADPCM block is written only when the codec completes one).

Each command runs --runs times, the commands of a row taking turns so that a shared machine's
changing load falls on all alike. Each cell is the median wall time in seconds; in brackets, for a
peer its median over tollvane's (above 1: tollvane is faster), for the floor the floor's median over
tollvane's (1.0 would mean the conversion costs nothing). A row whose target this tollvane-play
cannot produce (it refuses the format, or writes no file) reads "not available".

usage: end_to_end_bench.py [--program PATH] [--runs N] [--minutes M] [--work DIR] [--keep]
                           [--sse2] [--compare PATH]
  --program PATH  the native tollvane-play (default: build/tollvane-play beside this folder); its
                  folder's bench/io_floor and bench/kernel_path are used too
  --runs N        runs of each command (default 5)
  --minutes M     length of the generated track (default 10)
  --work DIR      scratch folder (default: a temporary one, removed afterwards unless --keep)
  --sse2          also time tollvane-play with TOLLVANE_FORCE_SSE2=1 (its SSE2 loops)
  --compare PATH  also time another native tollvane-play, say a build of an earlier commit

Needs python3 and sox; ffmpeg is optional (tools/install_deps.sh bench installs it). About 3 minutes
with the defaults on 2 cores.
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


# name, target record for cfg_wfx, sox arguments between input and output, ffmpeg's output
# arguments, whether it resamples, whether every block is one write (the floor stands for it)
ROWS = [
    ('48000 Hz stereo PCM', format_record(1, 2, 48000, 192000, 4, 16), ['-r', '48000'], ['-ar', '48000'], True, True),
    ('8000 Hz mono PCM', format_record(1, 1, 8000, 16000, 2, 16), ['-r', '8000', '-c', '1'],
     ['-ar', '8000', '-ac', '1'], True, True),
    ('u-law 44100 Hz stereo', format_record(7, 2, 44100, 88200, 2, 8), ['-e', 'u-law'], ['-c:a', 'pcm_mulaw'], False,
     True),
    # IMA ADPCM as the ACM's codec offers it for 44100 Hz stereo: 2048-byte blocks of 2041 frames
    ('IMA ADPCM 44100 Hz stereo', format_record(0x11, 2, 44100, 44251, 2048, 4, struct.pack('<H', 2041)),
     ['-e', 'ima-adpcm'], ['-c:a', 'adpcm_ima_wav'], False, False),
]


def timed(command, cwd, env=None):
    start = time.perf_counter()
    done = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, env=env)
    return time.perf_counter() - start, done.returncode, done.stderr.decode('latin-1', 'replace').strip()


def seconds_of(path):
    out = subprocess.run(['soxi', '-D', path], capture_output=True, text=True)
    return float(out.stdout) if out.returncode == 0 and out.stdout.strip() else None


def data_chunk(path):
    """The data chunk's size and the frame size (block align) of a WAV file, or None."""
    with open(path, 'rb') as f:
        head = f.read(12)
        if len(head) < 12 or head[:4] != b'RIFF' or head[8:12] != b'WAVE':
            return None
        align = 0
        while True:
            chunk = f.read(8)
            if len(chunk) < 8:
                return None
            ident, size = chunk[:4], struct.unpack('<I', chunk[4:])[0]
            if ident == b'data':
                return size, align
            body = f.read(size + (size & 1))
            if ident == b'fmt ' and len(body) >= 14:
                align = struct.unpack('<H', body[12:14])[0]


def processor():
    model, flags = 'unknown processor', set()
    try:
        with open('/proc/cpuinfo') as f:
            for line in f:
                if line.startswith('model name') and model == 'unknown processor':
                    model = line.split(':', 1)[1].strip()
                elif line.startswith('flags') and not flags:
                    flags = set(line.split(':', 1)[1].split())
    except OSError:
        pass
    simd = [name for name in ('sse2', 'ssse3', 'sse4_1', 'avx', 'avx2', 'fma', 'avx512f') if name in flags]
    return '%s, %d cores, SIMD: %s' % (model, os.cpu_count(), ' '.join(simd) or 'none listed')


def kernel_path(folder, env):
    """The block loops tollvane's converter picks here with this environment, as kernel_path says."""
    program = os.path.join(folder, 'kernel_path')
    if not os.path.exists(program):
        return 'unknown (no bench/kernel_path beside the program)'
    out = subprocess.run([program], capture_output=True, text=True, env=env)
    return out.stdout.strip() or 'unknown'


class Tollvane:
    def __init__(self, folder, program, env=None):
        self.folder, self.program, self.env = folder, program, env

    def run(self, record):
        """Times one run converting in.wav to the record: seconds and None, or None and the reason
        it could not."""
        # The program reads the INI file beside it that is named after it.
        ini = os.path.splitext(os.path.basename(self.program))[0] + '.ini'
        with open(os.path.join(self.folder, ini), 'wb') as f:
            f.write((SECTION + 'config_waveoutdir=\r\ncfg_cvt=1\r\ncfg_mode=0\r\ncfg_wfx_s=%d\r\ncfg_wfx=%s\r\n' %
                     (len(record), struct_value(record))).encode('latin-1'))
        out = os.path.join(self.folder, 'tollvane.wav')
        if os.path.exists(out):
            os.remove(out)
        seconds, status, errors = timed([self.program, '--title', 'tollvane', 'in.wav'], self.folder, self.env)
        if status != 0 or not os.path.exists(out):
            return None, errors.splitlines()[-1] if errors else 'exit status %d' % status
        return seconds, None


def run_sox(folder, arguments, effects):
    seconds, status, errors = timed(['sox', '-D', 'in.wav'] + arguments + ['sox.wav'] + list(effects), folder)
    return (seconds, None) if status == 0 else (None, errors or 'exit status %d' % status)


def run_ffmpeg(folder, arguments):
    seconds, status, errors = timed(['ffmpeg', '-nostdin', '-v', 'error', '-y', '-i', 'in.wav'] + arguments +
                                    ['ffmpeg.wav'], folder)
    return (seconds, None) if status == 0 else (None, errors.splitlines()[-1] if errors else 'exit status %d' % status)


def run_floor(folder, size):
    if size is None:
        return None, 'no tollvane output to size it'
    seconds, status, errors = timed(['./io_floor', 'in.wav', 'floor.wav', str(size[0]), str(size[1])], folder)
    return (seconds, None) if status == 0 else (None, errors or 'exit status %d' % status)


def main():
    parser = argparse.ArgumentParser(description='tollvane-play against sox and ffmpeg, end to end')
    parser.add_argument('--program', default=os.path.join(SOURCE, 'build', 'tollvane-play'))
    parser.add_argument('--runs', type=int, default=5)
    parser.add_argument('--minutes', type=float, default=10)
    parser.add_argument('--work')
    parser.add_argument('--keep', action='store_true')
    parser.add_argument('--sse2', action='store_true')
    parser.add_argument('--compare')
    args = parser.parse_args()
    if not os.path.isfile(args.program):
        sys.exit('no tollvane-play at %s: build the native target first (cmake --build build)' % args.program)
    if not shutil.which('sox'):
        sys.exit('sox is needed (apt-get install sox)')
    helpers = os.path.join(os.path.dirname(os.path.abspath(args.program)), 'bench')
    if not os.path.isfile(os.path.join(helpers, 'io_floor')):
        sys.exit('no io_floor in %s: build the target io_floor first' % helpers)
    ffmpeg = shutil.which('ffmpeg')

    folder = os.path.abspath(args.work) if args.work else tempfile.mkdtemp(prefix='tollvane-bench-')
    os.makedirs(folder, exist_ok=True)
    try:
        shutil.copy(args.program, os.path.join(folder, 'tollvane-play'))
        for helper in ('io_floor', 'kernel_path'):
            if os.path.isfile(os.path.join(helpers, helper)):
                shutil.copy(os.path.join(helpers, helper), os.path.join(folder, helper))
        sse2_env = dict(os.environ, TOLLVANE_FORCE_SSE2='1')
        default_env = {k: v for k, v in os.environ.items() if k != 'TOLLVANE_FORCE_SSE2'}
        tollvanes = [('tollvane-play', Tollvane(folder, './tollvane-play', default_env))]
        if args.sse2:
            tollvanes.append(('tollvane-play, SSE2 forced', Tollvane(folder, './tollvane-play', sse2_env)))
        if args.compare:
            shutil.copy(args.compare, os.path.join(folder, 'tollvane-compare'))
            tollvanes.append(('compared build', Tollvane(folder, './tollvane-compare', default_env)))
        seconds = int(args.minutes * 60)
        # Two sweeps, one per channel, repeatable (-R): music-like enough for every converter.
        subprocess.run(['sox', '-R', '-n', '-r', '44100', '-c', '2', '-b', '16', 'in.wav', 'synth', str(seconds),
                        'sine', '100-4000', 'sine', '3000-200', 'gain', '-3'], cwd=folder, check=True)
        ffmpeg_version = 'no ffmpeg'
        if ffmpeg:
            ffmpeg_version = subprocess.run(['ffmpeg', '-version'], capture_output=True, text=True).stdout.split()[2]
            ffmpeg_version = 'ffmpeg ' + ffmpeg_version
        print('%s, load average %.2f at the start' % (time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime()),
                                                      os.getloadavg()[0]))
        print('processor: %s' % processor())
        print('tollvane-play kernels: %s%s' % (kernel_path(folder, default_env),
                                               '; with TOLLVANE_FORCE_SSE2=1: %s' % kernel_path(folder, sse2_env)
                                               if args.sse2 else ''))
        print('peers: sox %s, %s' % (subprocess.run(['sox', '--version'], capture_output=True,
                                                    text=True).stdout.split()[-1], ffmpeg_version))
        print('input: %d s of 44100 Hz stereo 16-bit (%.1f MB), %d runs per command, median wall time in seconds'
              % (seconds, os.path.getsize(os.path.join(folder, 'in.wav')) / 1e6, args.runs))
        print()
        names = [name for name, _ in tollvanes] + ['sox', 'sox `rate -q`', 'ffmpeg', 'I/O floor']
        print('| target | ' + ' | '.join(names) + ' |')
        print('|---|' + '---:|' * len(names))
        for name, record, sox_arguments, ffmpeg_arguments, resamples, one_write in ROWS:
            size = [None]

            def first_tollvane(t=tollvanes[0][1]):
                result = t.run(record)
                if result[0] is not None and size[0] is None:
                    size[0] = data_chunk(os.path.join(folder, 'tollvane.wav'))
                return result

            commands = [first_tollvane] + [lambda t=t: t.run(record) for _, t in tollvanes[1:]]
            commands.append(lambda: run_sox(folder, sox_arguments, ()))
            commands.append((lambda: run_sox(folder, sox_arguments, ('rate', '-q'))) if resamples else None)
            commands.append((lambda: run_ffmpeg(folder, ffmpeg_arguments)) if ffmpeg else None)
            commands.append((lambda: run_floor(folder, size[0])) if one_write else None)
            times = [[] for _ in commands]
            reasons = [None for _ in commands]
            for _ in range(args.runs):
                for i, command in enumerate(commands):
                    if command and reasons[i] is None:
                        took, reasons[i] = command()
                        if took is not None:
                            times[i].append(took)
            if reasons[0]:
                print('| %s | not available (%s) |%s' % (name, reasons[0], ' |' * (len(names) - 1)))
                continue
            length = seconds_of(os.path.join(folder, 'tollvane.wav'))
            if length is None or abs(length - seconds) > 1:
                print('| %s | not available (tollvane wrote %s s of audio) |%s' %
                      (name, length, ' |' * (len(names) - 1)))
                continue
            ours = statistics.median(times[0])
            cells = ['%.2f' % ours]
            for i in range(1, len(commands)):
                if commands[i] is None:
                    cells.append('')
                elif reasons[i]:
                    cells.append('not available (%s)' % reasons[i])
                else:
                    theirs = statistics.median(times[i])
                    cells.append('%.2f (%.2f)' % (theirs, theirs / ours))
            print('| %s | %s |' % (name, ' | '.join(cells)))
            sys.stdout.flush()
        print()
        print('In brackets: a peer\'s median over tollvane-play\'s (above 1: tollvane-play is faster); for the '
              'I/O floor, its median over tollvane-play\'s (1.0: the conversion costs nothing).')
    finally:
        if not args.keep and not args.work:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == '__main__':
    main()
