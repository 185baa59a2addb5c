#!/usr/bin/env python3
"""Writes the download for Windows users from the built program:
    make_package.py BIN_DIR LAME_SOURCE_DIR ZIP_PATH
kanoru.exe and gogo.dll stripped, side by side, with the readme, the window's picture and the
licences, and the task definition of a weekly show; prints the binaries' sizes. The same commit gives the same zip, byte for byte: no build
time in the binaries, the entries in a fixed order with the commit's time and fixed modes. Its
SHA-256 is written beside it (ZIP_PATH.sha256)."""
import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
BINARIES = ("kanoru.exe", "gogo.dll")
# Where the PE header is found, and the offsets in it of the time stamp and the checksum (PE32).
PE_HEADER_POINTER = 0x3C
PE_TIME_STAMP = 8
PE_CHECKSUM = 24 + 64
ENTRY_MODE = 0o100644
# Zip entries cannot be dated before 1980.
EARLIEST_ZIP_TIME = 315532800


def without_build_time(path):
    """strip writes the time of its run into the PE header and a checksum over it: the time becomes
    0, as the linker's --no-insert-timestamp leaves it, and the checksum is made anew."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    header = struct.unpack_from("<I", data, PE_HEADER_POINTER)[0]
    struct.pack_into("<I", data, header + PE_TIME_STAMP, 0)
    checksum_at = header + PE_CHECKSUM
    struct.pack_into("<I", data, checksum_at, 0)
    padded = data + b"\0" * (len(data) % 2)
    total = 0
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    struct.pack_into("<I", data, checksum_at, total + len(data))
    with open(path, "wb") as f:
        f.write(data)


def commit_time():
    """The time of the commit being packaged (SOURCE_DATE_EPOCH outside a checkout)."""
    result = subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%ct"], capture_output=True, text=True)
    seconds = int(result.stdout.strip() or os.environ.get("SOURCE_DATE_EPOCH", EARLIEST_ZIP_TIME))
    return time.gmtime(max(seconds, EARLIEST_ZIP_TIME))[:6]


def add(package, name, data, date_time):
    entry = zipfile.ZipInfo(name, date_time)
    entry.compress_type = zipfile.ZIP_DEFLATED
    entry.external_attr = ENTRY_MODE << 16
    entry.create_system = 3
    package.writestr(entry, data)


def windows_text(path, encoding="utf-8", bom=False):
    """A text file as Notepad reads it: CRLF line ends, UTF-8 (marked for the Japanese readme), or
    UTF-16 with its mark, as the task scheduler writes and reads its task definitions."""
    with open(path, encoding="utf-8") as f:
        text = f.read().replace("\r\n", "\n").replace("\n", "\r\n")
    return (("\ufeff" if bom else "") + text).encode(encoding)


def main():
    bin_dir, lame_dir, zip_path = sys.argv[1:4]
    os.makedirs(os.path.dirname(os.path.abspath(zip_path)), exist_ok=True)
    # The texts beside the binaries; only the Japanese readme needs marking as UTF-8 for Notepad.
    texts = (
        ("README.txt", os.path.join(ROOT, "package", "README.txt"), "utf-8", True),
        ("THIRD-PARTY-NOTICES.txt", os.path.join(ROOT, "package", "THIRD-PARTY-NOTICES.txt"), "utf-8", False),
        ("LICENSE.txt", os.path.join(ROOT, "LICENSE"), "utf-8", False),
        ("LAME-COPYING.txt", os.path.join(lame_dir, "COPYING"), "utf-8", False),
        ("LAME-copyright.txt", os.path.join(lame_dir, "copyright"), "utf-8", False),
        ("weekly-show.xml", os.path.join(ROOT, "package", "weekly-show.xml"), "utf-16-le", True),
    )
    date_time = commit_time()
    with tempfile.TemporaryDirectory() as work, zipfile.ZipFile(zip_path, "w") as package:
        for name in BINARIES:
            stripped = os.path.join(work, name)
            subprocess.run(["i686-w64-mingw32-strip", "-o", stripped, os.path.join(bin_dir, name)], check=True)
            without_build_time(stripped)
            with open(stripped, "rb") as f:
                add(package, name, f.read(), date_time)
            print(f"{name}: {os.path.getsize(os.path.join(bin_dir, name))} bytes built, "
                  f"{os.path.getsize(stripped)} bytes stripped")
        for name, path, encoding, bom in texts:
            add(package, name, windows_text(path, encoding, bom), date_time)
        with open(os.path.join(ROOT, "docs", "window.png"), "rb") as f:
            add(package, "window.png", f.read(), date_time)
    with open(zip_path, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    with open(zip_path + ".sha256", "w") as f:
        f.write(f"{digest}  {os.path.basename(zip_path)}\n")
    print(f"{zip_path}: {os.path.getsize(zip_path)} bytes, SHA-256 {digest}")


if __name__ == "__main__":
    main()
