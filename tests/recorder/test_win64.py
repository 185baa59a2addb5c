"""Most users run this 32-bit program on 64-bit Windows: the unattended recording again, in a
64-bit Wine prefix of its own (WoW64)."""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import harness  # noqa: E402


class Win64Test(unittest.TestCase):
    def setUp(self):
        self.folder = harness.test_folder(self)
        self.line_in = harness.LineIn(self.folder)
        self.env = dict(self.line_in.env, WINEPREFIX=os.environ["KANORU_WINE64_PREFIX"], WINEARCH="win64")
        if not os.path.exists(os.path.join(self.env["WINEPREFIX"], "system.reg")):
            os.makedirs(os.path.dirname(self.env["WINEPREFIX"]), exist_ok=True)
            self.wine_and_wait("wineboot", "-i")

    def tearDown(self):
        subprocess.run(["wineserver", "-k"], env=self.env)
        self.line_in.close()

    def wine_and_wait(self, *arguments, timeout=300):
        code = harness.wine(*arguments, cwd=self.folder, env=self.env).wait(timeout=timeout)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=timeout)
        return code

    def test_unattended_recording_in_a_64_bit_prefix(self):
        harness.Program(self.folder, None)
        self.line_in.play_tone_before_capture(30)
        self.assertEqual(0, self.wine_and_wait("kanoru.exe", "/P128_44_2", "/A", "/T3", "take.mp3", timeout=120))
        info, _ = harness.assert_timed_recording(self, os.path.join(self.folder, "take.mp3"), 3, 0.6)
        self.assertEqual(("44100", 2, "128000"), (info["sample_rate"], info["channels"], info["bit_rate"]))


if __name__ == "__main__":
    unittest.main()
