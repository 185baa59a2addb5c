"""Runs the real program under Wine on a virtual line-in and drives its real window through the
probe program. Needs the variables of scripts/lib/wine-environment, a DISPLAY, and KANORU_BIN
(the folder of kanoru.exe, gogo.dll and probe.exe)."""
import array
import json
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time



def enter_wine_slot():
    """Under CTest a window test holds one of the Wine slots of scripts/test (CTest names it in
    CTEST_RESOURCE_GROUP_0_WINE as "id:N,slots:1"): its prefix, server and display are the test's."""
    group = os.environ.get("CTEST_RESOURCE_GROUP_0_WINE")
    if not group:
        # Without the slots CTest would run the window tests together in one prefix.
        if os.environ.get("KANORU_NEEDS_SLOT"):
            sys.exit("window tests run through scripts/test, which gives each a Wine slot")
        return
    slot = dict(part.split(":", 1) for part in group.split(","))["id"]
    with open(os.path.join(os.environ["KANORU_WINE_SLOTS"], slot, "env")) as env:
        os.environ.update(line.rstrip("\n").split("=", 1) for line in env if "=" in line)


enter_wine_slot()
BIN = os.environ.get("KANORU_BIN", "")
CAPTION = "かのる"
MESSAGE_CAPTION = "かのるMP3"
IDC_RECORD, IDC_SAVE = 256, 257
IDC_MONO, IDC_STEREO = 1002, 1003
IDC_16KHZ, IDC_22KHZ, IDC_24KHZ, IDC_32KHZ, IDC_44KHZ, IDC_48KHZ = range(1006, 1012)
IDC_COUNTER, IDC_REMAIN, IDC_BITRATE = 1012, 1013, 1014
LINE_IN_RATE = 44100
# The player's buffer: what it plays reaches the line-in this much later.
PLAYER_LATENCY_SECONDS = 0.2
# A Windows whose code page (1252) is not the program's.
ENGLISH = "en_US.UTF-8"
# Time for PulseAudio to carry the signal before capture starts.
SIGNAL_LEAD_SECONDS = 1.0


def test_folder(test):
    """An empty folder of the test's own under KANORU_WINDOW_TESTS."""
    folder = os.path.join(os.environ.get("KANORU_WINDOW_TESTS", tempfile.gettempdir()), test.id().split(".")[-1])
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def wine(*arguments, cwd=None, env=None, stdout=None):
    return subprocess.Popen(["wine", *arguments], cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=stdout,
                            stderr=subprocess.DEVNULL)


LINE_IN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "line-in")


class LineIn:
    """The virtual line-in of scripts/line-in, private to one test."""

    def __init__(self, folder):
        self.folder = folder
        # Short and outside the checkout: the server's socket path must fit wherever the tests run.
        runtime = tempfile.mkdtemp(prefix="line-in-", dir="/tmp")
        self.env = dict(os.environ, XDG_RUNTIME_DIR=runtime, PULSE_RUNTIME_PATH=runtime,
                        PULSE_SERVER="unix:" + os.path.join(runtime, "native"))
        subprocess.run([LINE_IN, "start", runtime], check=True)
        self.runtime = runtime
        self.players = []

    def tone(self, seconds, frequency=441.0, volume=0.5):
        """A file of the tone, to be played; a new one each time, as the player may still read the last."""
        self.tones = getattr(self, "tones", 0) + 1
        signal = os.path.join(self.folder, f"line-in-{self.tones}.wav")
        subprocess.run(["sox", "-q", "-n", "-r", str(LINE_IN_RATE), "-c", "2", "-b", "16", signal,
                        "synth", str(seconds), "sine", str(frequency), "vol", str(volume)], check=True)
        return signal

    def play_tone(self, seconds, frequency=441.0, sink="linein_feed", volume=0.5):
        self.play(self.tone(seconds, frequency, volume), sink)

    def mute(self, muted):
        """Mutes the line-in or unmutes it, as a mixer or Windows' privacy switch does."""
        subprocess.run(["pactl", "set-source-mute", "linein_feed.monitor", "1" if muted else "0"], env=self.env,
                       check=True)

    def play_tone_before_capture(self, seconds):
        """Plays the tone and waits until it reaches the capture side."""
        self.play_tone(seconds)
        time.sleep(SIGNAL_LEAD_SECONDS)

    def play(self, signal, sink="linein_feed"):
        """Plays into the line-in, or into the second one (sink linein2_feed)."""
        self.players.append(subprocess.Popen(["paplay", f"--latency-msec={int(PLAYER_LATENCY_SECONDS * 1000)}",
                                              f"--device={sink}", signal],
                                             env=self.env, stderr=subprocess.DEVNULL))

    def stop_server(self):
        """Ends the sound server, as an unplugged interface or a driver reset ends a device."""
        subprocess.run([LINE_IN, "stop", self.runtime])

    def restart_server(self, reordered=False):
        """The sound server back after stop_server, as a device plugged in again; it plays nothing yet.
        Reordered, its two line-ins come back in the other order, the first still the default."""
        subprocess.run([LINE_IN, "restart" if reordered else "start", self.runtime], check=True)

    def close(self):
        for player in self.players:
            player.kill()
            player.wait()
        self.stop_server()
        shutil.rmtree(self.runtime, ignore_errors=True)


class Program:
    """kanoru.exe copied with its library into a folder of its own, run there."""

    def __init__(self, folder, line_in, library=os.path.join(BIN, "gogo.dll")):
        self.folder = folder
        self.line_in = line_in
        shutil.copy(os.path.join(BIN, "kanoru.exe"), folder)
        if library:
            shutil.copy(library, os.path.join(folder, "gogo.dll"))
        self.process = None

    def start(self, *arguments, lang=None, cwd=None):
        """Starts the program, in the locale lang (a Windows of that code page) when given, in its own
        folder or in cwd."""
        env = dict(self.line_in.env if self.line_in else os.environ)
        if lang:
            env["LANG"] = lang
        self.process = wine(os.path.join(self.folder, "kanoru.exe"), *arguments, cwd=cwd or self.folder, env=env)
        return self.process

    def wait(self, timeout=60):
        """The exit code as the shell sees it (0-255)."""
        return self.process.wait(timeout=timeout)

    def kill(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def log_lines(folder):
    """The lines of the recording log beside the program in folder, each split into its fields."""
    with open(os.path.join(folder, "kanoru.log"), encoding="cp932", newline="") as log:
        text = log.read()
    assert text.endswith("\r\n"), "every line ends with CRLF"
    return [line.split(" | ") for line in text[:-2].split("\r\n")]


def logged_stretches(field):
    """A log's gaps or silences field as [(seconds into the file, seconds long)]."""
    return [(int(h) * 3600 + int(m) * 60 + int(s), int(length))
            for h, m, s, length in re.findall(r"(\d\d):(\d\d):(\d\d) (\d+) s", field)]


def probe(*arguments, timeout=60):
    """Runs the probe; its exit code and output lines."""
    with tempfile.TemporaryFile() as output:
        process = wine(os.path.join(BIN, "probe.exe"), *[str(a) for a in arguments], stdout=output)
        code = process.wait(timeout=timeout)
        output.seek(0)
        text = output.read().decode("cp932", "replace").replace("\r", "")
    return code, [line for line in text.split("\n") if line]


def set_screen_dpi(dpi):
    """The screen's scale for programs started from now on (96 is 100 %)."""
    subprocess.run(["wine", "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                    "/d", str(dpi), "/f"], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def wait_window(caption=CAPTION, ms=20000):
    return probe("wait", caption, ms)[0] == 0


def wait_gone(caption=CAPTION, ms=20000):
    return probe("gone", caption, ms)[0] == 0


def click(control, caption=CAPTION):
    return probe("click", caption, control)[0] == 0


def close_window(caption=CAPTION):
    return probe("close", caption)[0] == 0


def read_message(ms=20000, press_ok=True):
    """The text of the program's message box (lines joined with '|'), after pressing its OK unless
    press_ok is false; None if none came."""
    code, lines = probe("message" if press_ok else "peek", MESSAGE_CAPTION, ms)
    return lines[0] if code == 0 and lines else None


def window_state(caption=CAPTION):
    """{control id: {"enabled", "checked", "text"}} and the bitrate list as {"entries", "selected"}."""
    code, lines = probe("state", caption)
    if code != 0:
        return None
    controls = {}
    for line in lines:
        words = line.split(" ")
        if words[0] == "control":
            controls[int(words[1])] = {"enabled": words[3] == "1", "checked": words[5] == "1",
                                       "text": " ".join(words[7:])}
        elif words[0] == "list":
            controls["list"] = {"selected": int(words[3]), "entries": words[4:]}
    return controls


def screenshot(path):
    subprocess.run(["import", "-window", "root", path], check=True)


def media_info(path):
    """ffprobe's view of the first audio stream."""
    result = subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-select_streams", "a:0", "-of", "json", path],
                            capture_output=True, text=True, check=True)
    return json.loads(result.stdout)["streams"][0]


def decode(path):
    """mpg123's decoding as 16-bit interleaved samples."""
    result = subprocess.run(["mpg123", "-q", "-s", path], capture_output=True, check=True)
    samples = array.array("h")
    samples.frombytes(result.stdout[: len(result.stdout) // 2 * 2])
    return samples


def tag_frames(path):
    """The audio frame count that the file's Info tag declares (0 for a placeholder without one),
    and the audio frames that the file holds."""
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "encoderlib"))
    from check_decoded import frames
    with open(path, "rb") as f:
        data = f.read()
    all_frames = list(frames(data))
    tag = data.find(b"Info", 0, all_frames[0][4])
    declares_frames = tag >= 0 and int.from_bytes(data[tag + 4:tag + 8], "big") & 1
    declared = int.from_bytes(data[tag + 8:tag + 12], "big") if declares_frames else 0
    return declared, len(all_frames) - 1


def assert_tone_throughout(test, path, frequency):
    info = media_info(path)
    report = tone_report(decode(path), int(info["sample_rate"]), int(info["channels"]), frequency)
    test.assertTrue(report["tone_ok"], report)
    test.assertEqual([], report["quiet_at"], "parts of the recording are missing")
    return info, report


def assert_whole_tone(test, path, seconds, tolerance, frequency=441.0):
    """Asserts that the file is the line-in's tone throughout and about seconds long."""
    info, report = assert_tone_throughout(test, path, frequency)
    test.assertAlmostEqual(seconds, report["seconds"], delta=tolerance)
    return info, report


def assert_timed_recording(test, path, limit_seconds, tolerance, frequency=441.0):
    """Asserts that the file of a /T run is the tone throughout and as long as the limit allows: the
    stop comes at the buffer that leaves less than a second, so one second short of the limit, or
    the whole limit when a buffer came back on (or, under Wine, before) its whole second."""
    info, report = assert_tone_throughout(test, path, frequency)
    nearest = min((limit_seconds - 1, limit_seconds), key=lambda seconds: abs(seconds - report["seconds"]))
    test.assertAlmostEqual(nearest, report["seconds"], delta=tolerance, msg="stopped at the buffer the limit chose")
    return info, report


def tone_report(samples, rate, channels, frequency, window_seconds=0.1):
    """Checks that the recording is the tone throughout: its frequency from the zero crossings, and
    every window loud enough, so a lost or doubled second shows as a silent or broken window."""
    first = samples[0::channels]
    crossings = sum(1 for a, b in zip(first, first[1:]) if a < 0 <= b)
    seconds = len(first) / rate
    measured = crossings / seconds if seconds else 0
    window = int(rate * window_seconds)
    # Encoder delay and capture start may leave the very edges quiet.
    quiet = []
    for start in range(window, len(first) - 2 * window, window):
        part = first[start:start + window]
        rms = math.sqrt(sum(v * v for v in part) / len(part))
        if rms < 1000:
            quiet.append(round(start / rate, 2))
    return {"seconds": seconds, "frequency": measured, "quiet_at": quiet,
            "tone_ok": abs(measured - frequency) < frequency * 0.02}
