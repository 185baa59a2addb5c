"""The real program under Wine, recording from the virtual line-in, driven through its real window."""
import os
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import harness  # noqa: E402
from harness import (IDC_16KHZ, IDC_22KHZ, IDC_44KHZ, IDC_COUNTER, IDC_MONO, IDC_RECORD,  # noqa: E402
                     IDC_REMAIN, IDC_SAVE, IDC_STEREO)

TONE = 441.0
# What the second line-in plays.
SECOND_TONE = 882.0
ROW0 = [f"{k}kbps" for k in (8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160)]
ROW1 = [f"{k}kbps" for k in (32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320)]
# An unattended run ends this long after its limit at the latest: the grace, a watchdog tick, and
# Wine's own exit.
EXIT_AFTER_LIMIT_SECONDS = 6
# How an unattended run went, by its exit code.
RECORDED_AS_ASKED, RECORDED_WITH_GAPS, RECORDED_SILENCE, ENDED_EARLY, NOTHING_RECORDED = range(5)


class RecorderTestCase(unittest.TestCase):
    """The real program on a virtual line-in of the test's own."""

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

    def recording(self, *arguments, lang=None):
        """The program started on a line-in already playing the tone: the program, and when its window appeared."""
        self.line_in.play_tone_before_capture(60)
        program = self.started(*arguments, lang=lang)
        return program, time.monotonic()

    def started(self, *arguments, lang=None, **options):
        program = self.program(**options)
        program.start(*arguments, lang=lang)
        self.assertTrue(harness.wait_window(), "the recorder window did not appear")
        return program

    def assertWholeTone(self, path, seconds, tolerance):
        return harness.assert_whole_tone(self, path, seconds, tolerance, TONE)


class WindowTest(RecorderTestCase):
    def test_timed_recording_starts_and_closes_by_itself(self):
        self.line_in.play_tone_before_capture(30)
        program = self.program()
        program.start("/P128_44_2", "/A", "/T5", "take.mp3")
        self.assertEqual(0, program.wait(timeout=60))
        path = os.path.join(self.folder, "take.mp3")
        info, report = harness.assert_timed_recording(self, path, 5, 0.6, TONE)
        self.assertEqual(("44100", 2, "128000"), (info["sample_rate"], info["channels"], info["bit_rate"]))
        print(f"timed recording: {report['seconds']:.2f} s of {report['frequency']:.1f} Hz")
        [line] = harness.log_lines(self.folder)
        self.assertRegex(line[0], r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$", "the start's local date and time")
        self.assertRegex(line[1], r"^[A-Z]:\\.*\\take\.mp3$", "the file's full path")
        self.assertAlmostEqual(report["seconds"], int(line[2].split(" ")[0]), delta=1.0)
        self.assertNotIn(line[3], ("", "the default device"), "the device by the name Windows gives it")
        self.assertEqual(["no gaps", "no silence", "0 recorded as asked"], line[4:])

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

    def test_every_label_fits_its_control(self):
        # At the usual scale and at 150 %, where the program, aware of the scale, draws its own labels.
        widths = {}
        for dpi in (96, 144):
            with self.subTest(dpi=dpi):
                harness.set_screen_dpi(dpi)
                try:
                    program = self.started()
                    fits = [line.split(" ") for line in harness.probe("fit", harness.CAPTION)[1]]
                    labels = {words[2]: (int(words[3]), int(words[4])) for words in fits}
                    self.assertTrue({"Counter", "Remain", "Bitrate", "stereo", "16kHz", "Record", "Frq."} <= set(labels),
                                    labels)
                    clipped = {text: sizes for text, sizes in labels.items() if sizes[0] > sizes[1]}
                    self.assertEqual({}, clipped, "text width and the width the control gives it")
                    left, _, right = [int(x) for x in harness.probe("rect", harness.CAPTION)[1][0].split(" ")[:3]]
                    widths[dpi] = right - left
                    harness.close_window()
                    self.assertEqual(0, program.wait())
                finally:
                    harness.set_screen_dpi(96)
        self.assertAlmostEqual(1.5, widths[144] / widths[96], delta=0.15, msg=f"the window scales: {widths}")

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
        self.line_in.play_tone_before_capture(60)
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

    def test_record_then_stop_at_once_makes_a_file_decoders_open(self):
        self.started("/P128_44_2", "instant.mp3")
        self.assertTrue(harness.click(IDC_RECORD))
        self.assertTrue(harness.click(IDC_RECORD))
        for _ in range(50):
            if harness.window_state()[IDC_SAVE]["enabled"]:
                break
            time.sleep(0.1)
        path = os.path.join(self.folder, "instant.mp3")
        self.assertEqual("44100", harness.media_info(path)["sample_rate"], "ffprobe opens it")
        subprocess.run(["mpg123", "-q", "-t", path], check=True, stderr=subprocess.DEVNULL)
        harness.close_window()
        self.assertEqual(0, self.programs[0].wait())

    def test_closing_during_a_recording_finishes_the_file(self):
        program, _ = self.recording("/P128_44_2", "/A", "closed.mp3")
        time.sleep(3.5)
        harness.close_window()
        self.assertEqual(0, program.wait(timeout=30))
        self.assertWholeTone(os.path.join(self.folder, "closed.mp3"), 3.5, 0.8)

    def test_second_start_leaves_the_first_recording_alone(self):
        # On a Windows of another code page, the window's caption is still the program's: the probe,
        # of the program's code page, finds the window by it.
        first, started = self.recording("/P128_44_2", "/A", "first.mp3", lang=harness.ENGLISH)
        time.sleep(1.5)
        # There too, a second copy finds the first one's lock and window.
        second = self.program(os.path.join(self.folder, "second"))
        second.start("/P8_16_1", "/A", "second.mp3", lang=harness.ENGLISH)
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

    def test_scheduled_run_is_recorded_by_an_idle_window_and_refused_by_a_recording_one(self):
        self.line_in.play_tone_before_capture(60)
        window = self.started("/P64_22_1")
        scheduled = self.program(os.path.join(self.folder, "scheduled"))
        scheduled.start("/P128_44_2", "/A", "/T10", "show.mp3")
        started = time.monotonic()
        self.assertEqual(RECORDED_AS_ASKED, scheduled.wait(timeout=60), "the run's exit code is its show's")
        self.assertLess(time.monotonic() - started, 10 + EXIT_AFTER_LIMIT_SECONDS)
        # Its name is the scheduled run's, relative to its own folder; its quality is its own.
        info, _ = harness.assert_timed_recording(self, os.path.join(self.folder, "scheduled", "show.mp3"), 10, 0.8,
                                                 TONE)
        self.assertEqual(("44100", 2), (info["sample_rate"], info["channels"]))
        self.assertEqual(0, window.wait(timeout=30), "the window ends as the run would have")
        window = self.started("/P64_22_1", "own.mp3")
        self.assertTrue(harness.click(IDC_RECORD))
        busy = self.program(os.path.join(self.folder, "busy"))
        busy.start("/A", "/T10", "busy.mp3")
        self.assertEqual(NOTHING_RECORDED, busy.wait(timeout=20), "one window, one recording")
        self.assertFalse(os.path.exists(os.path.join(self.folder, "busy", "busy.mp3")))
        self.assertEqual("Stop", harness.window_state()[IDC_RECORD]["text"], "the window's recording goes on")
        harness.close_window()
        self.assertEqual(0, window.wait(timeout=30))


class FailureTest(RecorderTestCase):
    """Failures that nobody is there to answer: the recording still gets its end, and a timed run
    still exits after its limit."""

    def assertEndsAfterTheLimit(self, program, started, limit, outcome):
        self.assertEqual(outcome, program.wait(timeout=limit + 30), "the exit code tells how the run went")
        ended = time.monotonic() - started
        self.assertGreaterEqual(ended, limit, "the message stays until the limit")
        self.assertLess(ended, limit + EXIT_AFTER_LIMIT_SECONDS, "the program exits by itself after its limit")

    def assertTagCountsTheFrames(self, path):
        declared, held = harness.tag_frames(path)
        self.assertGreater(held, 0)
        self.assertEqual(held, declared, "the file was completed with its tag")

    def assertEndedAfterItsLimit(self, program, started, limit, name, outcome):
        """The unattended run exited by itself after its limit with its file complete; the file's path."""
        self.assertEqual(outcome, program.wait(timeout=60), "the exit code tells how the run went")
        self.assertLess(time.monotonic() - started, limit + EXIT_AFTER_LIMIT_SECONDS,
                        "the program exits by itself after its limit")
        path = os.path.join(self.folder, name)
        self.assertTagCountsTheFrames(path)
        return path

    def wait_red(self, red, seconds):
        """Seconds until the counter is (or is no longer) drawn in red, or None."""
        started = time.monotonic()
        while time.monotonic() - started < seconds:
            if (int(harness.probe("red", harness.CAPTION, IDC_COUNTER)[1][0]) > 0) == red:
                return time.monotonic() - started
            time.sleep(0.3)
        return None

    def outage(self, started, kill_at, back_at, second=None):
        """Ends the line-in's server at kill_at and brings it back, playing again, at back_at; the
        counter turns red meanwhile and back once audio flows. With a second tone, the server comes
        back with its line-ins in the other order, the second one playing that tone.
        The seconds the device took to return, and when, since started, the line-in played again;
        the gap the file shows for it is (kill_at, back - kill_at + recovered)."""
        signal = self.line_in.tone(120)
        second_signal = second and self.line_in.tone(120, second)
        time.sleep(max(0, started + kill_at - time.monotonic()))
        self.line_in.stop_server()
        self.assertIsNotNone(self.wait_red(True, back_at - kill_at - 0.5), "the counter turns red")
        time.sleep(max(0, started + back_at - time.monotonic()))
        self.line_in.restart_server(reordered=bool(second))
        self.line_in.play(signal)
        if second:
            self.line_in.play(second_signal, "linein2_feed")
        back = time.monotonic() + harness.PLAYER_LATENCY_SECONDS
        recovered = self.wait_red(False, 10)
        self.assertIsNotNone(recovered, "the counter turns back once the device is back")
        return recovered, back - started

    def outage_gap(self, started, kill_at, back_at, second=None):
        """An outage as above; the gap it leaves in the file: its start and its seconds."""
        recovered, back = self.outage(started, kill_at, back_at, second)
        return kill_at, back - kill_at + recovered

    def assertToneAroundGaps(self, path, gaps, seconds, frequency=TONE, recovery=1.5):
        """The file is about seconds long, and the tone but for one silence starting at each gap's start
        and no longer than the gap plus recovery."""
        info = harness.media_info(path)
        rate, channels = int(info["sample_rate"]), int(info["channels"])
        samples = harness.decode(path)
        report = harness.tone_report(samples, rate, channels, frequency)
        # A timed run holds its limit or, by the last-second rule, a second less; a clicked stop came
        # between two readings.
        nearest = min(seconds, key=lambda s: abs(s - report["seconds"])) if isinstance(seconds, tuple) else seconds
        self.assertAlmostEqual(nearest, report["seconds"], delta=1.0, msg="the file keeps the wall clock")
        quiet = [[t, t] for t in report["quiet_at"][:1]]
        for t in report["quiet_at"][1:]:
            if t - quiet[-1][1] <= 0.15:
                quiet[-1][1] = t
            else:
                quiet.append([t, t])
        self.assertEqual(len(gaps), len(quiet), f"one silence per gap: {quiet}")
        loud = 0.0
        crossings = 0
        first = samples[0::channels]
        edges = [0.0] + [x for q in quiet for x in (q[0], q[1] + 0.1)] + [report["seconds"]]
        for begin, end in zip(edges[0::2], edges[1::2]):
            part = first[int(begin * rate) + rate // 10:int(end * rate) - rate // 10]
            crossings += sum(1 for a, b in zip(part, part[1:]) if a < 0 <= b)
            loud += len(part) / rate
        self.assertAlmostEqual(frequency, crossings / loud, delta=frequency * 0.02, msg="the tone around the gaps")
        for (begin, end), (gap_start, gap_seconds) in zip(quiet, gaps):
            self.assertAlmostEqual(gap_start, begin, delta=1.6, msg="the silence begins where the input stopped")
            self.assertLess(end + 0.1 - begin, gap_seconds + recovery, "no longer than the gap and the recovery")
        return quiet

    def test_lost_device_is_bridged_and_the_unattended_recording_goes_on(self):
        program, started = self.recording("/P128_44_2", "/A", "/T40", "bridged.mp3")
        # About five seconds each, with room for the loss to be seen under load: a buffer two seconds
        # overdue, at the next tick.
        outages = [(3, 9), (15, 21)]
        recovered, back = zip(*[self.outage(started, kill_at, back_at) for kill_at, back_at in outages])
        # A stall without the device vanishing: the sink, and so its monitor, suspended.
        time.sleep(max(0, started + 26 - time.monotonic()))
        pactl = ["pactl", "suspend-sink", "linein_feed"]
        subprocess.run(pactl + ["1"], env=self.line_in.env, check=True)
        self.assertIsNotNone(self.wait_red(True, 5.5), "a stalled device turns the counter red too")
        time.sleep(max(0, started + 32 - time.monotonic()))
        subprocess.run(pactl + ["0"], env=self.line_in.env, check=True)
        stall_recovered = self.wait_red(False, 6)
        self.assertIsNotNone(stall_recovered, "the counter turns back once the sink runs again")
        path = self.assertEndedAfterItsLimit(program, started, 40, "bridged.mp3", RECORDED_WITH_GAPS)
        [line] = harness.log_lines(self.folder)
        print(f"logged: {line}")
        logged = harness.logged_stretches(line[4])
        # A buffer the device still delivers inside the stall ends its gap there: the stall is then two.
        stall = [at for at, _ in logged[len(outages):]]
        self.assertIn(len(stall), (1, 2), line)
        # What the device was filling as it vanished is kept: each silence is its outage and capture's return.
        gaps = [(kill_at, returned - kill_at) for (kill_at, _), returned in zip(outages, back)]
        gaps += [(at, 6 + stall_recovered) for at in [26] + stall[1:]]
        quiet = self.assertToneAroundGaps(path, gaps, (39, 40), recovery=1.8)
        print(f"bridged: line-in back at {back} s, the counter back {recovered} s after it, {stall_recovered:.1f} s "
              f"after the sink; silences {quiet}")
        for returned, (_, end) in zip(back, quiet):
            self.assertLessEqual(end + 0.1, returned + 1.8, "capture is back within 1.8 s of the line-in")
        self.assertTrue(line[4].startswith(f"{len(logged)} gaps: "), line)
        for (at, length), (begin, end) in zip(logged, quiet):
            self.assertAlmostEqual(begin, at, delta=1.0, msg="each gap at its place in the file")
            self.assertAlmostEqual(end + 0.1 - begin, length, delta=1.0, msg="and its length")
        self.assertEqual(["no silence", "1 input missing for a while"], line[5:])

    def test_chosen_device_is_recorded_and_found_again_by_its_name(self):
        # The second line-in is chosen; the default, the first, plays another tone before and after.
        self.line_in.play_tone(60)
        self.line_in.play_tone(60, SECOND_TONE, "linein2_feed")
        time.sleep(harness.SIGNAL_LEAD_SECONDS)
        # Its name holds a character that the program's code page lacks, as many built-in devices' do.
        program = self.started("/P64_22_1", "/A", "/T20", "/Dline-IN®", "chosen.mp3")
        started = time.monotonic()
        gap = self.outage_gap(started, 4, 9, second=SECOND_TONE)
        path = self.assertEndedAfterItsLimit(program, started, 20, "chosen.mp3", RECORDED_WITH_GAPS)
        self.assertToneAroundGaps(path, [gap], (19, 20), SECOND_TONE)
        program = self.started("/DNoSuchDevice", "none.mp3")
        self.assertTrue(harness.click(IDC_RECORD))
        message = harness.read_message(10000)
        self.assertTrue(message and message.startswith("名前に「NoSuchDevice」を含む録音デバイスが見つかりませんでした。"),
                        message)
        self.assertIn("Second-line-in", message, "the devices present are listed")
        harness.close_window()
        self.assertEqual(0, program.wait(timeout=30))
        program = self.started("/A", "/T5", "/DNoSuchDevice", "none.mp3")
        self.assertEndsAfterTheLimit(program, time.monotonic(), 5, NOTHING_RECORDED)

    def test_lost_device_without_a_limit_is_reported_when_stopped(self):
        program, started = self.recording("/P64_22_1", "/A", "bridged.mp3")
        # Long enough for the loss to be seen: a buffer two seconds overdue, at the next tick.
        gap = self.outage_gap(started, 2.5, 7)
        time.sleep(max(0, started + 12 - time.monotonic()))
        # The probe that clicks takes its time to start, the longer the busier the machine.
        clicking = time.monotonic() - started
        self.assertTrue(harness.click(IDC_RECORD))
        stopped = clicking, time.monotonic() - started
        message = harness.read_message(15000)
        self.assertTrue(message and message.startswith("録音中に入力が 1 回途切れました。無音で補った時間: 00:00:0"), message)
        state = harness.window_state()
        self.assertEqual("Recode", state[IDC_RECORD]["text"])
        self.assertTrue(state[IDC_SAVE]["enabled"])
        harness.close_window()
        self.assertEqual(0, program.wait(timeout=30))
        self.assertToneAroundGaps(os.path.join(self.folder, "bridged.mp3"), [gap], stopped)

    def test_frozen_program_keeps_the_wall_clock(self):
        program, started = self.recording("/P128_44_2", "/A", "/T30", "frozen.mp3")
        time.sleep(5)
        os.kill(program.process.pid, signal.SIGSTOP)
        time.sleep(20)
        os.kill(program.process.pid, signal.SIGCONT)
        path = self.assertEndedAfterItsLimit(program, started, 30, "frozen.mp3", RECORDED_WITH_GAPS)
        self.assertToneAroundGaps(path, [(5, 20)], (29, 30))

    def hold_output(self, name):
        """Another program holds the output file open without sharing it, for the test's length."""
        held = harness.wine(os.path.join(harness.BIN, "probe.exe"), "hold", name, "30000", cwd=self.folder)
        self.addCleanup(held.wait)
        self.addCleanup(held.kill)
        time.sleep(1)

    def test_held_output_file_ends_an_unattended_run_after_its_limit(self):
        path = os.path.join(self.folder, "take.mp3")
        with open(path, "wb") as f:
            f.write(b"an earlier recording")
        self.hold_output("take.mp3")
        program = self.started("/P64_22_1", "/A", "/T8", "take.mp3")
        started = time.monotonic()
        message = harness.read_message(15000, press_ok=False)
        self.assertTrue(message and message.startswith("エンコード設定が正しくありません。"), message)
        self.assertEqual(["1"], harness.probe("topmost", harness.MESSAGE_CAPTION)[1],
                         "the worker's message is never hidden behind the always-on-top window")
        self.assertEndsAfterTheLimit(program, started, 8, NOTHING_RECORDED)
        with open(path, "rb") as f:
            self.assertEqual(b"an earlier recording", f.read())

    def test_held_output_file_without_a_limit_keeps_the_window_answering(self):
        path = os.path.join(self.folder, "take.mp3")
        self.hold_output("take.mp3")
        program = self.started("/P64_22_1", "/A", "take.mp3")
        message = harness.read_message(15000, press_ok=False)
        self.assertTrue(message and message.startswith("エンコード設定が正しくありません。"), message)
        self.assertEqual(0, harness.probe("answers", harness.CAPTION, 1000)[0],
                         "the window answers while the worker's message waits")
        self.assertTrue(harness.read_message(5000))
        harness.close_window()
        self.assertEqual(0, program.wait(timeout=30))
        self.assertEqual(os.path.getsize(path), 0)

    def test_unwritable_window_position_does_not_hold_an_unattended_run(self):
        os.makedirs(os.path.join(self.folder, "kanoru.INI"))
        program, started = self.recording("/P64_22_1", "/A", "/T5", "first.mp3")
        self.assertEndsAfterTheLimit(program, started, 5, RECORDED_AS_ASKED)
        self.assertWholeTone(os.path.join(self.folder, "first.mp3"), 4.5, 1.0)
        second = self.started("/P64_22_1", "/A", "/T5", "second.mp3")
        self.assertEqual(0, second.wait(timeout=30))
        self.assertWholeTone(os.path.join(self.folder, "second.mp3"), 4.5, 1.0)

    def test_unattended_refusal_at_start_up_ends_after_the_limit(self):
        name = "x" * (260 - len(self.folder) - 1) + ".mp3"
        program = self.program()
        program.start("/A", "/T3", name)
        started = time.monotonic()
        self.assertEqual("ファイル名をフルパス名に変換できませんでした。", harness.read_message(10000, press_ok=False))
        self.assertEqual(255, program.wait(timeout=30))
        self.assertLess(time.monotonic() - started, 3 + EXIT_AFTER_LIMIT_SECONDS, "the message gives way after the limit")

    def test_back_to_back_scheduled_runs_both_record(self):
        self.line_in.play_tone_before_capture(60)
        first = self.program(os.path.join(self.folder, "first"))
        first.start("/P320_48_2", "/A", "/T20", "first.mp3")
        time.sleep(18)
        second = self.program(os.path.join(self.folder, "second"))
        second.start("/P320_48_2", "/A", "/T5", "second.mp3")
        self.assertEqual(0, first.wait(timeout=30))
        self.assertEqual(0, second.wait(timeout=40))
        harness.assert_timed_recording(self, os.path.join(self.folder, "first", "first.mp3"), 20, 0.8, TONE)
        harness.assert_timed_recording(self, os.path.join(self.folder, "second", "second.mp3"), 5, 0.8, TONE)

    def test_each_scheduled_run_keeps_its_own_dated_file(self):
        self.line_in.play_tone_before_capture(60)
        program = self.program()
        names = []
        for _ in range(2):
            before = time.strftime("rec_%Y%m%d_%H%M%S.mp3")
            program.start("/P64_22_1", "/A", "/T4", "rec_%Y%m%d_%H%M%S.mp3")
            self.assertEqual(0, program.wait(timeout=40))
            made = sorted(n for n in os.listdir(self.folder) if n.startswith("rec_") and n not in names)
            self.assertEqual(1, len(made), made)
            self.assertGreaterEqual(made[0], before, "named by its own start")
            names += made
            time.sleep(1.5)
        for name in names:
            harness.assert_timed_recording(self, os.path.join(self.folder, name), 4, 0.8, TONE)
        # A percent sign that starts no pattern stays as written; a task with no folder of its own runs
        # in the system folder, and its relative name goes beside the program.
        program.start("/P64_22_1", "/A", "/T2", "100%.mp3", cwd=os.path.join(os.environ["WINEPREFIX"], "drive_c",
                                                                               "windows", "system32"))
        self.assertEqual(0, program.wait(timeout=40))
        harness.assert_timed_recording(self, os.path.join(self.folder, "100%.mp3"), 2, 0.8, TONE)

    def test_silent_input_is_told_and_a_closed_unattended_run_ends_at_once(self):
        # No tone: the line-in's monitor gives exact zeros, as a muted input does.
        program = self.started("/P64_22_1", "/A", "/T60", "quiet.mp3")
        time.sleep(5)
        harness.close_window()
        closed = time.monotonic()
        self.assertEqual(ENDED_EARLY, program.wait(timeout=30), "a close before the limit cuts the show short")
        self.assertLess(time.monotonic() - closed, EXIT_AFTER_LIMIT_SECONDS, "no message holds a closed run")
        self.assertTagCountsTheFrames(os.path.join(self.folder, "quiet.mp3"))
        program = self.started("/P64_22_1", "quiet.mp3")
        self.assertTrue(harness.click(IDC_RECORD))
        # Long enough that a stall of a busy machine's first seconds leaves the 3 s that silence is judged on.
        time.sleep(7)
        self.assertTrue(harness.click(IDC_RECORD))
        message = harness.read_message(10000)
        self.assertTrue(message and message.startswith("録音中、入力から音が来ませんでした。"), message)
        # A stall on a busy machine adds the gaps' message; the log tells it.
        harness.read_message(1000)
        harness.close_window()
        self.assertEqual(0, program.wait(timeout=30), "someone was there: the exit code is not theirs")

    def test_silence_inside_a_show_is_told_and_a_quiet_tone_is_sound(self):
        # A mixer muted from 10 s to 80 s of the show: seventy seconds of exact zeros inside it.
        self.line_in.play_tone_before_capture(120)
        program = self.started("/P64_22_1", "/A", "/T90", "muted.mp3")
        started = time.monotonic()
        time.sleep(max(0, started + 10 - time.monotonic()))
        self.line_in.mute(True)
        time.sleep(max(0, started + 80 - time.monotonic()))
        self.line_in.mute(False)
        self.assertEndedAfterItsLimit(program, started, 90, "muted.mp3", RECORDED_WITH_GAPS)
        line = harness.log_lines(self.folder)[-1]
        self.assertEqual("no gaps", line[4])
        [(at, length)] = harness.logged_stretches(line[5])
        self.assertAlmostEqual(10, at, delta=1.5, msg="the silence at its place in the file")
        self.assertAlmostEqual(70, length, delta=2, msg="and its length")
        self.assertEqual("1 input missing for a while", line[6])
        # A tone 40 dB below full scale throughout is sound, in each channel.
        self.line_in.play_tone(30, volume=0.01)
        time.sleep(harness.SIGNAL_LEAD_SECONDS)
        program = self.started("/P128_44_2", "/A", "/T8", "quiet-tone.mp3")
        self.assertEqual(RECORDED_AS_ASKED, program.wait(timeout=60))
        self.assertEqual(["no gaps", "no silence", "0 recorded as asked"], harness.log_lines(self.folder)[-1][4:])

    def test_full_drive_ends_an_unattended_run_after_its_limit(self):
        drive = os.path.join(self.folder, "drive")
        os.makedirs(drive)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=600k", "tmpfs", drive]).returncode != 0:
            self.skipTest("a small drive of its own needs root")
        self.addCleanup(subprocess.run, ["umount", drive])
        letter = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "t:")
        if os.path.lexists(letter):
            os.remove(letter)
        os.symlink(drive, letter)
        self.addCleanup(os.remove, letter)
        program, started = self.recording("/P320_48_2", "/A", "/T40", "T:\\full.mp3")
        message = harness.read_message(40000, press_ok=False)
        self.assertTrue(message and message.startswith("MP3ファイルの書き込みに失敗しました。"), message)
        self.assertEndsAfterTheLimit(program, started, 40, ENDED_EARLY)
        # 600 KiB at 40,000 bytes a second.
        self.assertWholeTone(os.path.join(drive, "full.mp3"), 15.4, 0.6)

    def test_end_of_the_session_completes_the_file(self):
        program, started = self.recording("/P128_44_2", "/A", "session.mp3")
        time.sleep(3.5)
        asked = time.monotonic() - started
        self.assertEqual(0, harness.wine("wineboot", "--end-session").wait(timeout=60))
        answered = time.monotonic() - started
        program.wait(timeout=30)
        path = os.path.join(self.folder, "session.mp3")
        self.assertTagCountsTheFrames(path)
        # Nothing is missing but the last fraction of a second before the session ended.
        self.assertWholeTone(path, (asked + answered) / 2, (answered - asked) / 2 + 0.5)
        with open(os.path.join(self.folder, "kanoru.INI"), encoding="cp932") as ini:
            self.assertRegex(ini.read(), r"x=\d+\s+y=\d+", "the window's position is kept")


    def test_output_path_that_cannot_take_a_recording_is_named(self):
        os.makedirs(os.path.join(self.folder, "folder.mp3"))
        read_only = os.path.join(self.folder, "kept.mp3")
        with open(read_only, "wb") as f:
            f.write(b"an earlier recording")
        # Wine shows a file without write permission as read-only.
        os.chmod(read_only, 0o444)
        for name, shown in (("folder.mp3", "folder.mp3"), ("kept.mp3", "kept.mp3"), ("NUL", "\\\\.\\NUL"),
                            ("missing\\take.mp3", "missing\\take.mp3")):
            with self.subTest(name):
                program = self.started("/A", name)
                message = harness.read_message(10000)
                self.assertTrue(message and message.startswith("このファイルには録音できません。|"), message)
                self.assertIn(shown, message, "the message names the path")
                self.assertEqual("Record", harness.window_state()[IDC_RECORD]["text"])
                harness.close_window()
                self.assertEqual(0, program.wait(timeout=30))
        with open(read_only, "rb") as f:
            self.assertEqual(b"an earlier recording", f.read())
        self.assertFalse(os.path.exists(os.path.join(self.folder, "missing")))
        # Its window lives only until the limit, which a probe started late on a busy machine may miss.
        program = self.program()
        started = time.monotonic()
        program.start("/P64_22_1", "/A", "/T4", "folder.mp3")
        self.assertEndsAfterTheLimit(program, started, 4, NOTHING_RECORDED)
        lines = harness.log_lines(self.folder)
        self.assertEqual(5, len(lines), "a line for every start, attended or not")
        self.assertRegex(lines[-1][1], r"^[A-Z]:\\.*\\folder\.mp3$")
        # No device was looked for.
        self.assertEqual(["0 s", "the default device", "no gaps", "no silence"], lines[-1][2:6])
        self.assertTrue(lines[-1][6].startswith("4 nothing recorded: このファイルには録音できません。 "), lines[-1])


class RefusalTest(unittest.TestCase):
    def setUp(self):
        self.folder = harness.test_folder(self)
        self.program = None

    def tearDown(self):
        if self.program:
            self.program.kill()

    def refused(self, arguments, library, lang=None):
        self.program = harness.Program(self.folder, None, library=library)
        self.program.start(*arguments, lang=lang)
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
        for lang in (None, harness.ENGLISH):
            message, code = self.refused(["/P100_44_2"], os.path.join(harness.BIN, "gogo.dll"), lang)
            self.assertEqual("不正なパラメータです。/P", message, f"the message and its caption read in {lang}")
            self.assertEqual(255, code)


if __name__ == "__main__":
    unittest.main()
