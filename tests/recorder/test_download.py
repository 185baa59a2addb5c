"""The download as a Windows user gets it: the zip that scripts/package writes, the same every
time it is made from one build, unpacked into a fresh folder, records from the line-in."""
import hashlib
import os
import subprocess
import sys
import time
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import harness  # noqa: E402

MAKE_PACKAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "lib", "make_package.py")
CONTENTS = {"kanoru.exe", "gogo.dll", "README.txt", "window.png", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt",
            "LAME-COPYING.txt", "LAME-copyright.txt"}


class DownloadTest(unittest.TestCase):
    def test_unpacked_download_records(self):
        folder = harness.test_folder(self)
        version = os.environ["KANORU_VERSION"]
        package = os.path.join(folder, f"kanoru-{version}-win32.zip")
        again = os.path.join(folder, "again", os.path.basename(package))
        for path in (package, again):
            subprocess.run([sys.executable, MAKE_PACKAGE, harness.BIN, os.environ["KANORU_LAME_DIR"], path], check=True,
                           stdout=subprocess.DEVNULL)
            # strip writes the time of its run: a second later would show in the binaries.
            time.sleep(1.1)
        with open(package, "rb") as first, open(again, "rb") as second:
            data = first.read()
            self.assertEqual(data, second.read(), "the same build gives the same zip")
        with open(package + ".sha256") as f:
            self.assertEqual(f"{hashlib.sha256(data).hexdigest()}  {os.path.basename(package)}\n", f.read())
        unpacked = os.path.join(folder, "unpacked")
        with zipfile.ZipFile(package) as download:
            self.assertEqual(CONTENTS, set(download.namelist()))
            download.extractall(unpacked)
        for binary in ("kanoru.exe", "gogo.dll"):
            with open(os.path.join(unpacked, binary), "rb") as f:
                data = f.read()
            for text in ("ProductVersion", version, "LegalCopyright"):
                self.assertIn(text.encode("utf-16-le"), data, f"{binary}'s version resource")
        with open(os.path.join(unpacked, "LAME-COPYING.txt"), encoding="utf-8") as f:
            self.assertIn("GNU LIBRARY GENERAL PUBLIC LICENSE", f.read())
        with open(os.path.join(unpacked, "LAME-copyright.txt"), encoding="utf-8") as f:
            self.assertIn("LAME", f.read())

        line_in = harness.LineIn(folder)
        self.addCleanup(line_in.close)
        line_in.play_tone_before_capture(30)
        process = harness.wine("kanoru.exe", "/P128_44_2", "/A", "/T3", "take.mp3", cwd=unpacked, env=line_in.env)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        self.assertEqual(0, process.wait(timeout=60))
        harness.assert_timed_recording(self, os.path.join(unpacked, "take.mp3"), 3, 0.6)


if __name__ == "__main__":
    unittest.main()
