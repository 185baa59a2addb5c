#!/usr/bin/env python3
"""Writes the download for Windows users from the built program:
    make_package.py BIN_DIR LAME_SOURCE_DIR ZIP_PATH
kanoru.exe and gogo.dll stripped, side by side, with the readme, the window's picture and the
licences; prints the binaries' sizes."""
import os
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
BINARIES = ("kanoru.exe", "gogo.dll")


def windows_text(path, bom=False):
    """A text file as Notepad reads it: CRLF line ends, UTF-8 (marked for the Japanese readme)."""
    with open(path, encoding="utf-8") as f:
        text = f.read().replace("\r\n", "\n").replace("\n", "\r\n")
    return ("\ufeff" if bom else "") + text


def main():
    bin_dir, lame_dir, zip_path = sys.argv[1:4]
    os.makedirs(os.path.dirname(os.path.abspath(zip_path)), exist_ok=True)
    # The texts beside the binaries; only the Japanese readme needs marking as UTF-8 for Notepad.
    texts = (
        ("README.txt", os.path.join(ROOT, "package", "README.txt"), True),
        ("THIRD-PARTY-NOTICES.txt", os.path.join(ROOT, "package", "THIRD-PARTY-NOTICES.txt"), False),
        ("LICENSE.txt", os.path.join(ROOT, "LICENSE"), False),
        ("LAME-COPYING.txt", os.path.join(lame_dir, "COPYING"), False),
        ("LAME-copyright.txt", os.path.join(lame_dir, "copyright"), False),
    )
    with tempfile.TemporaryDirectory() as work, zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED) as package:
        for name in BINARIES:
            stripped = os.path.join(work, name)
            subprocess.run(["i686-w64-mingw32-strip", "-o", stripped, os.path.join(bin_dir, name)], check=True)
            package.write(stripped, name)
            print(f"{name}: {os.path.getsize(os.path.join(bin_dir, name))} bytes built, "
                  f"{os.path.getsize(stripped)} bytes stripped")
        for name, path, bom in texts:
            package.writestr(name, windows_text(path, bom).encode("utf-8"))
        package.write(os.path.join(ROOT, "docs", "window.png"), "window.png")
    print(f"{zip_path}: {os.path.getsize(zip_path)} bytes")


if __name__ == "__main__":
    main()
