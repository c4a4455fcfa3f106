"""How the test scripts run a Windows build's programs: under the Wine loader that each program's
PE header asks for (wine_run.sh; qemu-i386 carries an i686 one where TOLLVANE_I386_QEMU names it),
in the build's own prefix, which wine_prefix.sh makes, warms up and stops.

compare_builds.py, settings_compare_builds.py and real_codecs.py import it.
"""
import os
import subprocess

here = os.path.dirname(os.path.abspath(__file__))
# The loader and the prefix's width follow the program's PE header (i686 or x86_64 build).
wine_run = ['sh', os.path.join(here, 'wine_run.sh')]
# How many times longer than natively a program may take on this route. tools/check.sh alone
# decides it, for qemu-i386, and configures the builds with it as TOLLVANE_TIMEOUT_SCALE, which
# scales ctest's own limits and reaches these scripts through the tests' environment; run by
# hand, a script allows the time of a native run.
slowdown = int(os.environ.get('TOLLVANE_TIMEOUT_SCALE', '1'))


def prefix(windows_build):
    return os.path.join(windows_build, 'wineprefix')


def prefix_up(windows_build, program):
    """Makes the prefix once and starts its server; program, any Windows program of the build,
    sets its width."""
    subprocess.run(['sh', os.path.join(here, 'wine_prefix.sh'), 'up', prefix(windows_build), program], check=True)


def prefix_down(windows_build):
    subprocess.run(['sh', os.path.join(here, 'wine_prefix.sh'), 'down', prefix(windows_build)])


def run(windows_build, command, cwd, seconds=120):
    """Runs command (wine_run + a Windows program, or a native program beside one) with no input
    and its output captured, allowing seconds as natively and as much more as the route needs."""
    return subprocess.run(command, cwd=cwd, env=dict(os.environ, WINEPREFIX=prefix(windows_build), WINEDEBUG='-all'),
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=seconds * slowdown)
