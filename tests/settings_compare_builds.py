#!/usr/bin/env python3
"""Saves the same settings through the native build and through the Windows build under Wine,
compares the two INI files byte for byte, then lets each build load the other's file. Some saves
go into an INI that already holds other programs' sections, in UTF-16: those must stay as they
were, in the file's own encoding.

usage: settings_compare_builds.py NATIVE_TOOL WINDOWS_BUILD_DIR WORK_DIR
"""
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'windows'))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import wine_route  # noqa: E402

native_tool, windows_build, work = (os.path.abspath(a) for a in sys.argv[1:4])
BUILDS = {
    'native': (native_tool, ['./settings_ini_tool']),
    'windows': (os.path.join(windows_build, 'tests', 'settings_ini_tool.exe'), wine_route.wine_run + ['settings_ini_tool.exe']),
}
OURS = '[WAV Writing Output Driver]'
OTHERS = '[Player]\r\nname=\u041f\u0451\u0442\u0440\r\n%s[\u0414\u0440\u0443\u0433\u043e\u0439]\r\nkey=\U0001f3b5\r\n'
# The set saved (0: defaults, 1: every setting changed, 2: limits) and the INI beside the program
# before the save (None: none). Set 1 overwrites every key that the section there holds.
CASES = [
    ('0', 'defaults', None),
    ('1', 'every setting changed', None),
    ('2', 'limits', None),
    ('1', 'every setting changed, into a UTF-16 LE INI between other sections',
     b'\xff\xfe' + (OTHERS % (OURS + '\r\ncfg_mode=1\r\ncfg_thread=\r\n')).encode('utf-16-le')),
    ('0', 'defaults, into a UTF-16 BE INI of other sections', b'\xfe\xff' + (OTHERS % '').encode('utf-16-be')),
]


def run(build, *args):
    done = wine_route.run(windows_build, BUILDS[build][1] + list(args), os.path.join(work, build))
    return done.returncode, done.stderr.decode('latin-1').strip()


def ini(build):
    return os.path.join(work, build, 'settings_ini_tool.ini')


def others(data):
    """The sections other than the plug-in's, as text, from an INI with a UTF-16 mark."""
    text = data.decode('utf-16', errors='replace')
    kept, inside = [], False
    for line in text.split('\r\n'):
        if line.startswith('['):
            inside = line == OURS
        if line and not inside:
            kept.append(line)
    return kept


def main():
    wine_route.prefix_up(windows_build, os.path.join(windows_build, 'tests', 'settings_ini_tool.exe'))
    shutil.rmtree(work, ignore_errors=True)
    failures = 0
    try:
        for build, (program, _) in BUILDS.items():
            os.makedirs(os.path.join(work, build))
            shutil.copy(program, os.path.join(work, build))
        for case, (number, name, seed) in enumerate(CASES):
            problems = []
            texts = {}
            for build in BUILDS:
                if os.path.exists(ini(build)):
                    os.remove(ini(build))
                if seed is not None:
                    with open(ini(build), 'wb') as f:
                        f.write(seed)
                status, errors = run(build, 'save', number)
                if status != 0 or not os.path.exists(ini(build)):
                    problems.append('%s save: status %d %s' % (build, status, errors))
                    continue
                with open(ini(build), 'rb') as f:
                    texts[build] = f.read()
                if seed is not None and (texts[build][:2] != seed[:2] or others(texts[build]) != others(seed)):
                    problems.append('%s save did not keep the other sections as they were:\n      %r'
                                    % (build, texts[build]))
            if len(texts) == 2 and texts['native'] != texts['windows']:
                problems.append('INI bytes differ:\n      native  %r\n      windows %r' % (texts['native'], texts['windows']))
            # Each build loads the file the other one wrote.
            for build, other in (('native', 'windows'), ('windows', 'native')):
                if other not in texts:
                    continue
                with open(ini(build), 'wb') as f:
                    f.write(texts[other])
                status, errors = run(build, 'load', number)
                if status != 0:
                    problems.append('%s load of the %s file: status %d %s' % (build, other, status, errors))
            print('case %d, set %s (%s): %s' % (case, number, name, 'identical, loaded by both' if not problems else 'FAILED'))
            for p in problems:
                print('    ' + p)
            failures += bool(problems)
    finally:
        wine_route.prefix_down(windows_build)
    print('%d passed, %d failed' % (len(CASES) - failures, failures))
    return 1 if failures else 0


sys.exit(main())
