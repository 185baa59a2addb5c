"""The download as a Windows user gets it: the zip that scripts/package writes, the same every
time it is made from one build, unpacked into a fresh folder, records from the line-in."""
import datetime
import hashlib
import os
import subprocess
import sys
import time
import re
import unittest
import xml.etree.ElementTree as ElementTree
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import harness  # noqa: E402

MAKE_PACKAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "lib", "make_package.py")
CONTENTS = {"kanoru.exe", "gogo.dll", "README.txt", "window.png", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt",
            "LAME-COPYING.txt", "LAME-copyright.txt", "weekly-show.xml"}
TASK = "{http://schemas.microsoft.com/windows/2004/02/mit/task}"


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

        self.assertWeeklyShowImports(unpacked)
        line_in = harness.LineIn(folder)
        self.addCleanup(line_in.close)
        line_in.play_tone_before_capture(30)
        process = harness.wine("kanoru.exe", "/P128_44_2", "/A", "/T3", "take.mp3", cwd=unpacked, env=line_in.env)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        self.assertEqual(0, process.wait(timeout=60))
        harness.assert_timed_recording(self, os.path.join(unpacked, "take.mp3"), 3, 0.6)

    def assertWeeklyShowImports(self, unpacked):
        """The task definition has what a weekly show needs, and the task scheduler takes it."""
        with open(os.path.join(unpacked, "weekly-show.xml"), "rb") as f:
            task = ElementTree.fromstring(f.read().decode("utf-16").encode("utf-8").replace(b'"UTF-16"', b'"UTF-8"'))
        settings = {child.tag.replace(TASK, ""): child.text for child in task.find(TASK + "Settings")}
        self.assertEqual(("Parallel", "true", "true"),
                         (settings["MultipleInstancesPolicy"], settings["WakeToRun"], settings["StartWhenAvailable"]))
        hours, minutes = re.fullmatch(r"PT(\d+)H(\d+)M", settings["ExecutionTimeLimit"]).groups()
        limit = int(re.search(r"/T(\d+)", task.find(f"{TASK}Actions/{TASK}Exec/{TASK}Arguments").text).group(1))
        # A show waits for its predecessor's lock up to 132 s, and lives past its limit 122 s at most.
        self.assertGreater(int(hours) * 3600 + int(minutes) * 60, limit + 132 + 122, "ends before the scheduler's limit")
        trigger = task.find(f"{TASK}Triggers/{TASK}CalendarTrigger")
        start = datetime.datetime.fromisoformat(trigger.find(TASK + "StartBoundary").text)
        self.assertLess(start, datetime.datetime.now(), "no week is missed after the import")
        days = [day.tag.replace(TASK, "") for day in trigger.find(f"{TASK}ScheduleByWeek/{TASK}DaysOfWeek")]
        self.assertEqual([start.strftime("%A")], days, "the first start falls on the show's day")
        self.assertTrue(task.find(f"{TASK}Actions/{TASK}Exec/{TASK}WorkingDirectory").text)
        self.assertEqual(0, harness.wine("schtasks", "/create", "/tn", "kanoru weekly show", "/f", "/xml",
                                         "Z:" + os.path.join(unpacked, "weekly-show.xml").replace("/", "\\")
                                         ).wait(timeout=60))


if __name__ == "__main__":
    unittest.main()
