"""What the program keeps for the user, seen through its real window under Wine: the window's
position in the INI file beside the executable, and the Save copy of a finished recording."""
import configparser
import filecmp
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import harness  # noqa: E402
from harness import IDC_RECORD, IDC_SAVE  # noqa: E402

SECTION = "かのるMP3"
SCREEN_WIDTH, SCREEN_HEIGHT = 1024, 768  # the Xvfb screen of scripts/lib/wine-environment
EDGE = 16
SAVE_DIALOG = "owned-by:" + harness.CAPTION
FILE_NAME_BOXES = (1148, 1152)  # the save dialog's file name box, combo or edit


def window_corner():
    code, lines = harness.probe("rect", harness.CAPTION)
    left, top = lines[0].split(" ")[:2]
    return int(left), int(top)


class KeepingTest(unittest.TestCase):
    def setUp(self):
        self.folder = harness.test_folder(self)
        self.line_in = harness.LineIn(self.folder)
        self.program = harness.Program(self.folder, self.line_in)
        self.ini = os.path.join(self.folder, "kanoru.INI")

    def tearDown(self):
        self.program.kill()
        self.line_in.close()

    def run_until_closed(self, move_to=None, *arguments):
        """Starts the program, optionally moves its window, closes it; the corner it opened at."""
        self.program.start(*arguments)
        self.assertTrue(harness.wait_window())
        opened = window_corner()
        if move_to:
            harness.probe("move", harness.CAPTION, *move_to)
            time.sleep(0.3)
        harness.close_window()
        self.assertEqual(0, self.program.wait(timeout=30))
        return opened

    def saved(self):
        ini = configparser.ConfigParser()
        with open(self.ini, encoding="cp932") as f:
            ini.read_file(f)
        return int(ini[SECTION]["x"]), int(ini[SECTION]["y"])

    def write_ini(self, x, y):
        with open(self.ini, "w", encoding="cp932") as f:
            f.write(f"[{SECTION}]\r\nx={x}\r\ny={y}\r\n")

    def test_window_reopens_where_it_was_closed(self):
        template_corner = self.run_until_closed((300, 200))
        self.assertEqual((300, 200), self.saved())
        self.assertEqual((300, 200), self.run_until_closed())
        self.assertNotEqual((300, 200), template_corner, "the first start uses the template's place")

    def test_bounds_of_the_remembered_corner(self):
        self.run_until_closed((SCREEN_WIDTH - EDGE, 100))
        self.assertEqual((SCREEN_WIDTH - EDGE, 100), self.saved(), "equality is still saved")
        template_corner = self.run_until_closed((-20, 100))
        self.assertNotEqual(SCREEN_WIDTH - EDGE, template_corner[0], "but not restored")
        self.assertEqual((SCREEN_WIDTH - EDGE, 100), self.saved(), "off the left edge: not saved")
        self.run_until_closed((100, -5))
        self.assertEqual((SCREEN_WIDTH - EDGE, 100), self.saved(), "off the top edge: not saved")
        self.write_ini(-30, 120)
        self.assertEqual((-30, 120), self.run_until_closed(), "a negative x written by hand is restored")

    def test_executable_not_ending_in_exe(self):
        os.rename(os.path.join(self.folder, "kanoru.exe"), os.path.join(self.folder, "kanoru.bin"))
        self.line_in.play_tone_before_capture(30)
        self.program.process = harness.wine("kanoru.bin", "/P64_22_1", "/A", "/T3", "renamed.mp3",
                                            cwd=self.folder, env=self.line_in.env)
        extension = "拡張子がEXEではありませんでした。:DialogPosition"
        self.assertEqual(extension, harness.read_message(), "at start")
        self.assertEqual(extension, harness.read_message(), "at exit")
        self.assertEqual(0, self.program.wait(timeout=30))
        self.assertGreater(os.path.getsize(os.path.join(self.folder, "renamed.mp3")), 10000)
        self.assertFalse(os.path.exists(self.ini))

    def record(self, seconds=2.5):
        self.line_in.play_tone_before_capture(60)
        self.program.start("/P64_22_1", "take.mp3")
        self.assertTrue(harness.wait_window())
        harness.click(IDC_RECORD)
        time.sleep(seconds)
        harness.click(IDC_RECORD)
        return self.wait_for_save(True)

    def wait_for_save(self, enabled, seconds=10):
        for _ in range(int(seconds / 0.2)):
            if harness.window_state()[IDC_SAVE]["enabled"] == enabled:
                return True
            time.sleep(0.2)
        return False

    def open_save_dialog(self):
        harness.click(IDC_SAVE)
        self.assertTrue(harness.wait_window(SAVE_DIALOG), "the save dialog opens")
        time.sleep(0.5)
        state = harness.window_state(SAVE_DIALOG)
        name = next(state[box]["text"] for box in FILE_NAME_BOXES if box in state)
        return state, name

    def type_name_and_confirm(self, state, name):
        box = next(box for box in FILE_NAME_BOXES if box in state)
        harness.probe("settext", SAVE_DIALOG, box, name)
        harness.probe("click", SAVE_DIALOG, 1)

    def test_save_copies_the_recording_under_a_new_name(self):
        self.assertTrue(self.record())
        state, name = self.open_save_dialog()
        self.assertIn("take.mp3", name, "the dialog starts from the working file")
        # The dialog opens in the working file's folder: a bare new name is what a user types.
        self.type_name_and_confirm(state, "kept")
        self.assertTrue(self.wait_for_save(False), "Save is disabled after the copy")
        kept = os.path.join(self.folder, "kept.mp3")
        self.assertTrue(filecmp.cmp(os.path.join(self.folder, "take.mp3"), kept, shallow=False))
        harness.close_window()
        self.assertEqual(0, self.program.wait(timeout=30))

    def test_cancelling_changes_nothing(self):
        self.assertTrue(self.record())
        before = sorted(os.listdir(self.folder))
        self.open_save_dialog()
        harness.probe("click", SAVE_DIALOG, 2)
        self.assertTrue(harness.wait_gone(SAVE_DIALOG))
        self.assertTrue(harness.window_state()[IDC_SAVE]["enabled"])
        self.assertEqual(before, sorted(os.listdir(self.folder)))
        harness.close_window()
        self.assertEqual(0, self.program.wait(timeout=30))

    def test_save_stays_disabled_after_a_failed_recording(self):
        self.line_in.play_tone(60)
        held = harness.wine(os.path.join(harness.BIN, "probe.exe"), "hold", "take.mp3", "15000", cwd=self.folder)
        time.sleep(1)
        self.program.start("/P64_22_1", "take.mp3")
        self.assertTrue(harness.wait_window())
        harness.click(IDC_RECORD)
        message = harness.read_message()
        self.assertTrue(message and message.startswith("エンコード設定が正しくありません。"), message)
        time.sleep(1)
        state = harness.window_state()
        self.assertEqual("Recode", state[IDC_RECORD]["text"], "the recording stopped by itself")
        self.assertFalse(state[IDC_SAVE]["enabled"])
        harness.close_window()
        self.assertEqual(0, self.program.wait(timeout=30))
        held.kill()
        held.wait()

    def test_saving_over_a_file_asks_the_shell_first(self):
        self.assertTrue(self.record())
        existing = os.path.join(self.folder, "existing.mp3")
        with open(existing, "wb") as f:
            f.write(b"an older recording")
        state, _ = self.open_save_dialog()
        self.type_name_and_confirm(state, "Z:" + existing.replace("/", "\\"))
        time.sleep(1)
        code, lines = harness.probe("rect", SAVE_DIALOG)
        self.assertEqual(0, code, "the shell asks before replacing a file")
        with open(existing, "rb") as f:
            self.assertEqual(b"an older recording", f.read(), "nothing is replaced before the answer")
        harness.probe("click", SAVE_DIALOG, 6)  # Yes
        self.assertTrue(self.wait_for_save(False))
        self.assertTrue(filecmp.cmp(os.path.join(self.folder, "take.mp3"), existing, shallow=False))
        harness.close_window()
        self.assertEqual(0, self.program.wait(timeout=30))


if __name__ == "__main__":
    unittest.main()
