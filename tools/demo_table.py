#!/usr/bin/env python3
"""Prints the demo's table: every file in the folders given (in that order), with its format,
length and size. PCM files are read back through tollvane-play's own reader (the program
wav-frames, the first argument); codec files are described from their headers. Where sox is
installed, it reads every PCM file again and must find the same frame counts."""
import os
import shutil
import struct
import subprocess
import sys

CODECS = {0x0002: 'MS ADPCM', 0x0006: 'A-law', 0x0007: 'u-law', 0x0011: 'IMA ADPCM',
          0x0031: 'GSM 6.10', 0x0055: 'MPEG Layer-3'}


def layout(rate, channels, bits):
    count = {1: 'mono', 2: 'stereo'}.get(channels, f'{channels} channels')
    return f'{rate} Hz {bits}-bit {count}'


def read_back(wav_frames, paths):
    """What the project's reader reads in each file: path -> (rate, channels, bits, frames,
    missing bytes), or path -> the reason it refused the file."""
    run = subprocess.run([wav_frames] + paths, stdout=subprocess.PIPE, text=True)
    found = {}
    for line in run.stdout.splitlines():
        path, verdict, *rest = line.split('\t')
        found[path] = tuple(int(x) for x in rest) if verdict == 'pcm' else rest[0]
    return found


def codec_header(path):
    """A codec file's format (tag, rate, channels, bits, block align), its fact chunk's frame
    count and its data chunk's size, from a walk over its RIFF chunks; None for any of the three
    that the file lacks, and None alone for a file that is no RIFF WAVE file."""
    with open(path, 'rb') as f:
        data = f.read()
    if data[:4] != b'RIFF' or data[8:12] != b'WAVE':
        return None
    fmt, fact, data_bytes, at = None, None, None, 12
    while at + 8 <= len(data):
        chunk, size = data[at:at + 4], struct.unpack_from('<I', data, at + 4)[0]
        if chunk == b'fmt ' and fmt is None and size >= 16 and at + 24 <= len(data):
            tag, channels, rate, _, block_align, bits = struct.unpack_from('<HHIIHH', data, at + 8)
            fmt = (tag, rate, channels, bits, block_align)
        elif chunk == b'fact':
            fact = struct.unpack_from('<I', data, at + 8)[0]
        elif chunk == b'data':
            data_bytes = size
        at += 8 + size + (size & 1)
    return fmt, fact, data_bytes


def info_tags(path):
    """The title and number a file's LIST INFO chunk holds, as 'INAM "..." ITRK ...', or None."""
    with open(path, 'rb') as f:
        data = f.read()
    at, tags = 12, []
    while at + 8 <= len(data):
        chunk, size = data[at:at + 4], struct.unpack_from('<I', data, at + 4)[0]
        if chunk == b'LIST' and data[at + 8:at + 12] == b'INFO':
            inner, end = at + 12, min(at + 8 + size, len(data))
            while inner + 8 <= end:
                tag, length = data[inner:inner + 4].decode('latin-1'), struct.unpack_from('<I', data, inner + 4)[0]
                text = data[inner + 8:inner + 8 + length].split(b'\0')[0].decode('utf-8', 'replace')
                if tag in ('INAM', 'ITRK'):
                    tags.append(f'{tag} "{text}"' if tag == 'INAM' else f'{tag} {text}')
                inner += 8 + length + (length & 1)
        at += 8 + size + (size & 1)
    return ', '.join(tags) or None


def sox_frames(path):
    run = subprocess.run(['soxi', '-s', path], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    return int(run.stdout) if run.returncode == 0 else None


def main():
    wav_frames, folders = sys.argv[1], sys.argv[2:]
    groups = [(folder, sorted(os.path.join(folder, name) for name in os.listdir(folder))) for folder in folders]
    found = read_back(wav_frames, [path for _, paths in groups for path in paths])
    # Rows: a folder's name, a file's (name, format, frames, seconds, bytes), or a note on it.
    rows, pcm = [], []
    for folder, paths in groups:
        rows.append(folder + '/')
        for path in paths:
            name, size = os.path.basename(path), os.path.getsize(path)
            what = found.get(path, 'not read')
            if isinstance(what, tuple):
                rate, channels, bits, frames, missing = what
                pcm.append((path, frames))
                rows.append((name, 'PCM ' + layout(rate, channels, bits), frames, frames / rate, size))
                tags = info_tags(path)
                if tags:
                    rows.append(f'    tags: {tags}')
                if missing:
                    rows.append(f'    its data chunk claims {missing} bytes more than the file holds')
                continue
            fmt, fact, data_bytes = codec_header(path) or (None, None, None)
            if None in (fmt, fact, data_bytes) or 0 in (fmt[1], fmt[4]):  # nothing to describe
                rows.append((name, what, None, None, size))
                continue
            tag, rate, channels, bits, block_align = fmt
            codec = CODECS.get(tag, f'format 0x{tag:04X}')
            rows.append((name, f'{codec} {layout(rate, channels, bits)}', fact, fact / rate, size))
            rows.append(f'    header: fact {fact} frames, data {data_bytes} bytes'
                        f' = {data_bytes // block_align} blocks of {block_align} bytes')

    files = [row for row in rows if isinstance(row, tuple)]
    name_width = max(len(row[0]) for row in files) + 2
    format_width = max(len(row[1]) for row in files)
    print(f'{"file":{name_width}} {"format":{format_width}} {"frames":>7} {"duration":>8} {"bytes":>8}')
    for row in rows:
        if isinstance(row, str):
            print(row)
            continue
        name, fmt, frames, seconds, size = row
        frames = '' if frames is None else frames
        duration = '' if seconds is None else f'{seconds:.3f} s'
        print(f'  {name:{name_width - 2}} {fmt:{format_width}} {frames:>7} {duration:>8} {size:>8}')

    if not shutil.which('soxi'):
        print('sox is not installed: the PCM files are not read a second time')
        return 0
    differ = 0
    for path, frames in pcm:
        theirs = sox_frames(path)
        if theirs != frames:
            print(f'{path}: sox reads {theirs} frames, tollvane-play\'s reader {frames}')
            differ += 1
    if differ:
        return 1
    print(f'sox counts the same frames in all {len(pcm)} PCM files (it ignores fact for IMA ADPCM)')
    return 0


if __name__ == '__main__':
    sys.exit(main())
