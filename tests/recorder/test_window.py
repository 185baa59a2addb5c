"""The real program under Wine, recording from the virtual line-in, driven through its real window."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import harness  # noqa: E402
from harness import (IDC_16KHZ, IDC_22KHZ, IDC_44KHZ, IDC_COUNTER, IDC_MONO, IDC_RECORD,  # noqa: E402
                     IDC_REMAIN, IDC_SAVE, IDC_STEREO)

TONE = 441.0
ROW0 = [f"{k}kbps" for k in (8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160)]
ROW1 = [f"{k}kbps" for k in (32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320)]
# Time for PulseAudio to carry the signal before capture starts.
SIGNAL_LEAD_SECONDS = 1.0


class WindowTest(unittest.TestCase):
    def setUp(self):
        self.folder = harness.test_folder(self)
        self.line_in = harness.LineIn(self.folder)
        self.programs = []

    def tearDown(self):
        for program in self.programs:
            program.kill()
        self.line_in.close()

    def program(self, folder=None, **options):
        folder = folder or self.folder
        os.makedirs(folder, exist_ok=True)
        program = harness.Program(folder, self.line_in, **options)
        self.programs.append(program)
        return program

    def started(self, *arguments, **options):
        program = self.program(**options)
        program.start(*arguments)
        self.assertTrue(harness.wait_window(), "the recorder window did not appear")
        return program

    def assertWholeTone(self, path, seconds, tolerance):
        info = harness.media_info(path)
        samples = harness.decode(path)
        report = harness.tone_report(samples, int(info["sample_rate"]), int(info["channels"]), TONE)
        self.assertTrue(report["tone_ok"], report)
        self.assertEqual([], report["quiet_at"], "parts of the recording are missing")
        self.assertAlmostEqual(seconds, report["seconds"], delta=tolerance)
        return info, report

    def test_timed_recording_starts_and_closes_by_itself(self):
        self.line_in.play_tone(30)
        time.sleep(SIGNAL_LEAD_SECONDS)
        program = self.program()
        program.start("/P128_44_2", "/A", "/T5", "take.mp3")
        self.assertEqual(0, program.wait(timeout=60))
        path = os.path.join(self.folder, "take.mp3")
        info, report = self.assertWholeTone(path, 4.0, 0.6)
        self.assertEqual(("44100", 2, "128000"), (info["sample_rate"], info["channels"], info["bit_rate"]))
        print(f"timed recording: {report['seconds']:.2f} s of {report['frequency']:.1f} Hz")

    def test_fresh_start_shows_the_default_settings(self):
        self.started()
        state = harness.window_state()
        self.assertTrue(state[IDC_MONO]["checked"])
        self.assertFalse(state[IDC_STEREO]["checked"])
        self.assertTrue(state[IDC_22KHZ]["checked"])
        self.assertEqual(ROW0, state["list"]["entries"])
        self.assertEqual(ROW0.index("80kbps"), state["list"]["selected"])
        self.assertEqual("--:--:--", state[IDC_COUNTER]["text"])
        self.assertEqual("--:--:--", state[IDC_REMAIN]["text"])
        self.assertEqual("Record", state[IDC_RECORD]["text"])
        self.assertFalse(state[IDC_SAVE]["enabled"])
        self.assertTrue(harness.click(IDC_44KHZ))
        time.sleep(0.5)
        state = harness.window_state()
        self.assertEqual(ROW1, state["list"]["entries"])
        self.assertEqual(0, state["list"]["selected"])
        self.assertTrue(state[IDC_MONO]["checked"])
        harness.close_window()
        self.assertEqual(0, self.programs[0].wait())

    def test_preset_and_limit_are_shown(self):
        self.started("/P128_44_2", "/T3600")
        state = harness.window_state()
        self.assertTrue(state[IDC_STEREO]["checked"])
        self.assertTrue(state[IDC_44KHZ]["checked"])
        self.assertFalse(state[IDC_16KHZ]["checked"])
        self.assertEqual(ROW1, state["list"]["entries"])
        self.assertEqual(ROW1.index("128kbps"), state["list"]["selected"])
        self.assertEqual("01:00:00", state[IDC_REMAIN]["text"])
        harness.close_window()
        self.assertEqual(0, self.programs[0].wait())

    def test_record_and_stop_by_clicking(self):
        self.line_in.play_tone(60)
        time.sleep(SIGNAL_LEAD_SECONDS)
        self.started("/P64_22_1", "clicked.mp3")
        self.assertTrue(harness.click(IDC_RECORD))
        started = time.monotonic()
        counters = []
        while time.monotonic() - started < 4.5:
            state = harness.window_state()
            counters.append(state[IDC_COUNTER]["text"])
            self.assertEqual("Stop", state[IDC_RECORD]["text"])
            self.assertFalse(state[IDC_SAVE]["enabled"])
            self.assertFalse(state[IDC_MONO]["enabled"])
            time.sleep(0.3)
        self.assertTrue(harness.click(IDC_RECORD))
        recorded = time.monotonic() - started
        # The counter advances second by second (a slow probe may miss one reading, never a step back).
        self.assertEqual(sorted(counters), counters)
        self.assertGreaterEqual(len(set(counters) & {"00:00:01", "00:00:02", "00:00:03", "00:00:04"}), 3, counters)
        for _ in range(50):
            state = harness.window_state()
            if state[IDC_SAVE]["enabled"]:
                break
            time.sleep(0.1)
        self.assertEqual("Recode", state[IDC_RECORD]["text"])
        self.assertTrue(state[IDC_SAVE]["enabled"])
        self.assertTrue(state[IDC_MONO]["enabled"])
        info, report = self.assertWholeTone(os.path.join(self.folder, "clicked.mp3"), recorded, 0.8)
        self.assertEqual(("22050", 1), (info["sample_rate"], info["channels"]))
        harness.close_window()
        self.assertEqual(0, self.programs[0].wait())

    def test_closing_during_a_recording_finishes_the_file(self):
        self.line_in.play_tone(60)
        time.sleep(SIGNAL_LEAD_SECONDS)
        program = self.started("/P128_44_2", "/A", "closed.mp3")
        time.sleep(3.5)
        harness.close_window()
        self.assertEqual(0, program.wait(timeout=30))
        self.assertWholeTone(os.path.join(self.folder, "closed.mp3"), 3.5, 0.8)

    def test_second_start_leaves_the_first_recording_alone(self):
        self.line_in.play_tone(60)
        time.sleep(SIGNAL_LEAD_SECONDS)
        first = self.started("/P128_44_2", "/A", "first.mp3")
        started = time.monotonic()
        time.sleep(1.5)
        second = self.program(os.path.join(self.folder, "second"))
        second.start("/P8_16_1", "/A", "second.mp3")
        self.assertEqual(0, second.wait(timeout=30))
        self.assertFalse(os.path.exists(os.path.join(self.folder, "second", "second.mp3")))
        code, lines = harness.probe("foreground", harness.CAPTION)
        self.assertEqual(["1"], lines, "the first copy's window comes to the front")
        state = harness.window_state()
        self.assertEqual("Stop", state[IDC_RECORD]["text"], "the first copy still records")
        self.assertTrue(state[IDC_STEREO]["checked"], "the second copy's preset is not applied")
        time.sleep(2)
        harness.close_window()
        recorded = time.monotonic() - started
        self.assertEqual(0, first.wait(timeout=30))
        self.assertWholeTone(os.path.join(self.folder, "first.mp3"), recorded, 1.0)


class RefusalTest(unittest.TestCase):
    def setUp(self):
        self.folder = harness.test_folder(self)
        self.program = None

    def tearDown(self):
        if self.program:
            self.program.kill()

    def refused(self, arguments, library):
        self.program = harness.Program(self.folder, None, library=library)
        self.program.start(*arguments)
        message = harness.read_message()
        code = self.program.wait(timeout=30)
        self.assertFalse(harness.probe("wait", harness.CAPTION, 0)[0] == 0, "no recorder window")
        return message, code

    def test_missing_library(self):
        message, code = self.refused([], None)
        self.assertEqual("gogo.dllが見つかりませんでした。|DLLをEXEファイルと同じディレクトリへ複写してください。|", message)
        self.assertEqual(0, code)

    def test_library_without_an_entry_point(self):
        message, code = self.refused([], os.path.join(os.environ["KANORU_FAKES"], "incomplete", "gogo.dll"))
        self.assertEqual("DLLの内容を正しく識別することが出来ませんでした。|", message)
        self.assertEqual(0, code)

    def test_illegal_preset(self):
        message, code = self.refused(["/P100_44_2"], os.path.join(harness.BIN, "gogo.dll"))
        self.assertEqual("不正なパラメータです。/P", message)
        self.assertEqual(255, code)


if __name__ == "__main__":
    unittest.main()
