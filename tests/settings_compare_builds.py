#!/usr/bin/env python3
"""Saves the same settings through the native build and through the Windows build under Wine,
compares the two INI files byte for byte, then lets each build load the other's file.

usage: settings_compare_builds.py NATIVE_TOOL WINDOWS_BUILD_DIR WORK_DIR
"""
import os
import shutil
import subprocess
import sys

native_tool, windows_build, work = (os.path.abspath(a) for a in sys.argv[1:4])
source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
prefix = os.path.join(windows_build, 'wineprefix')
wine_env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG='-all')
# An i686 program runs up to ten times slower under qemu-i386 (TOLLVANE_I386_QEMU names it).
slower = 10 if os.environ.get('TOLLVANE_I386_QEMU') else 1
# The loader and the prefix's width follow the program's PE header (i686 or x86_64 build).
wine_run = ['sh', os.path.join(source, 'tests/windows/wine_run.sh')]
BUILDS = {
    'native': (native_tool, ['./settings_ini_tool']),
    'windows': (os.path.join(windows_build, 'tests', 'settings_ini_tool.exe'), wine_run + ['settings_ini_tool.exe']),
}
SETS = {'0': 'defaults', '1': 'every setting changed', '2': 'limits'}


def run(build, *args):
    done = subprocess.run(BUILDS[build][1] + list(args), cwd=os.path.join(work, build), env=wine_env,
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=120 * slower)
    return done.returncode, done.stderr.decode('latin-1').strip()


def ini(build):
    return os.path.join(work, build, 'settings_ini_tool.ini')


def main():
    subprocess.run(['sh', os.path.join(source, 'tests/windows/wine_prefix.sh'), 'up', prefix,
                    os.path.join(windows_build, 'tests', 'settings_ini_tool.exe')], check=True)
    shutil.rmtree(work, ignore_errors=True)
    failures = 0
    try:
        for build, (program, _) in BUILDS.items():
            os.makedirs(os.path.join(work, build))
            shutil.copy(program, os.path.join(work, build))
        for number, name in SETS.items():
            problems = []
            texts = {}
            for build in BUILDS:
                if os.path.exists(ini(build)):
                    os.remove(ini(build))
                status, errors = run(build, 'save', number)
                if status != 0 or not os.path.exists(ini(build)):
                    problems.append('%s save: status %d %s' % (build, status, errors))
                    continue
                with open(ini(build), 'rb') as f:
                    texts[build] = f.read()
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
            print('set %s (%s): %s' % (number, name, 'identical, loaded by both' if not problems else 'FAILED'))
            for p in problems:
                print('    ' + p)
            failures += bool(problems)
    finally:
        subprocess.run(['sh', os.path.join(source, 'tests/windows/wine_prefix.sh'), 'down', prefix])
    print('%d passed, %d failed' % (len(SETS) - failures, failures))
    return 1 if failures else 0


sys.exit(main())
