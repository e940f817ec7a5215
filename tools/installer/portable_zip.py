#!/usr/bin/env python3
"""Makes Velmora's portable zip: one folder laid out like the installed one.

    portable_zip.py --version 1.0 --exe velmora.exe --cli velmora-cli.exe --pdf "Velmora ver_1_0.pdf" OUT.zip

For version 1.0 the archive holds "Velmora v.1.0/velmora.exe", the console tool
"Velmora v.1.0/velmora-cli.exe" and
"Velmora v.1.0/help/Velmora ver_1_0.pdf": unpacked anywhere writable, the
program started from that folder finds its help and keeps appconfig.ini there.
Entries carry the files' own times, so the same inputs give the same archive.
"""

import argparse
import os
import sys
import time
import zipfile



def layout(version, exe, cli, pdf):
    """(name in the archive, source file) in archive order: the folder the
    installer would make, and the help under the name the program opens."""
    folder = "Velmora v." + version
    help_name = "Velmora ver_%s.pdf" % version.replace(".", "_")
    return [
        (folder + "/", None),
        (folder + "/velmora.exe", exe),
        (folder + "/velmora-cli.exe", cli),
        (folder + "/help/", None),
        (folder + "/help/" + help_name, pdf),
    ]


def entry_time(path):
    # Zip times start in 1980; clamp anything older (SOURCE_DATE_EPOCH=0).
    stamp = max(os.stat(path).st_mtime, 315532800 + 86400)
    return time.gmtime(stamp)[:6]


def make_zip(version, exe, cli, pdf, out):
    newest = max(entry_time(exe), entry_time(cli), entry_time(pdf))
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        for name, source in layout(version, exe, cli, pdf):
            if source is None:
                info = zipfile.ZipInfo(name, newest)
                info.external_attr = (0o40755 << 16) | 0x10   # directory, for both worlds
                archive.writestr(info, b"")
                continue
            info = zipfile.ZipInfo(name, entry_time(source))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            with open(source, "rb") as f:
                archive.writestr(info, f.read())


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--version", required=True, help="the program's version, as 1.0")
    parser.add_argument("--exe", required=True, help="the program to pack")
    parser.add_argument("--cli", required=True, help="the console tool to pack")
    parser.add_argument("--pdf", required=True, help="the help PDF to pack")
    parser.add_argument("out", help="the zip to write")
    args = parser.parse_args(argv)
    for path in (args.exe, args.cli, args.pdf):
        if not os.path.isfile(path):
            parser.error("no file %s" % path)
    make_zip(args.version, args.exe, args.cli, args.pdf, args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
