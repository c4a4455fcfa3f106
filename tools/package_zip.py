#!/usr/bin/env python3
"""Makes what a Windows user downloads, dist/tollvane-VERSION-x86.zip: the product DLL as
out_tollvane.dll and tools/package_readme.txt as README.txt, with Windows line ends for Notepad.
VERSION is the one the plug-in shows, from config/plugin_version.h. tools/package.sh builds the
DLL and calls "make"; tools/check.sh calls "check" to see that the zip holds the DLL it tests.

usage: package_zip.py make DLL | check DLL
"""
import os
import re
import sys
import time
import zipfile

source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def plugin_name():
    """"Tollvane v1.4" and "1.4", as config/plugin_version.h spells the name."""
    with open(os.path.join(source, 'config', 'plugin_version.h')) as f:
        found = re.search(r'#define TOLLVANE_VERSION "(Tollvane v([0-9][0-9.]*))"', f.read())
    if not found:
        sys.exit('package_zip: no version in config/plugin_version.h')
    return found.group(1), found.group(2)


def zip_path():
    return os.path.join('dist', 'tollvane-%s-x86.zip' % plugin_name()[1])


def make(dll):
    name, _ = plugin_name()
    with open(os.path.join(source, 'tools', 'package_readme.txt')) as f:
        readme = f.read().replace('@NAME@', name).replace('\n', '\r\n').encode('ascii')
    with open(dll, 'rb') as f:
        dll_bytes = f.read()
    # Both members carry the DLL's build time, so that the zip says when its code was made.
    when = time.localtime(os.path.getmtime(dll))[:6]
    os.makedirs(os.path.join(source, 'dist'), exist_ok=True)
    with zipfile.ZipFile(os.path.join(source, zip_path()), 'w', zipfile.ZIP_DEFLATED) as z:
        for member, data in (('out_tollvane.dll', dll_bytes), ('README.txt', readme)):
            info = zipfile.ZipInfo(member, when)
            info.create_system = 0  # made for Windows: plain files, no Unix permissions
            info.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE, as Windows' own zips mark files
            z.writestr(info, data, zipfile.ZIP_DEFLATED)
    print('%s: out_tollvane.dll (%d bytes), README.txt (%d bytes)' % (zip_path(), len(dll_bytes), len(readme)))


def check(dll):
    with open(dll, 'rb') as f:
        tested = f.read()
    try:
        with zipfile.ZipFile(os.path.join(source, zip_path())) as z:
            zipped = z.read('out_tollvane.dll')
    except (OSError, KeyError, zipfile.BadZipFile) as e:
        sys.exit('package_zip: %s: %s' % (zip_path(), e))
    if zipped != tested:
        sys.exit('package_zip: the out_tollvane.dll in %s (%d bytes) is not %s (%d bytes)'
                 % (zip_path(), len(zipped), dll, len(tested)))
    print('%s holds %s byte for byte' % (zip_path(), dll))


if len(sys.argv) != 3 or sys.argv[1] not in ('make', 'check'):
    sys.exit('usage: package_zip.py make DLL | check DLL')
(make if sys.argv[1] == 'make' else check)(sys.argv[2])
