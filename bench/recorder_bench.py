"""Measures the recorder against baselines from the same run (see bench/recorder).
Usage: recorder_bench.py WORK_FOLDER [RECORD_SECONDS]; every figure is the median of three runs."""
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "harness"))
import harness  # noqa: E402

WORK = sys.argv[1]
SECONDS = int(sys.argv[2]) if len(sys.argv) > 2 else 60
MINIMAL = "minimal"
REPEATS = 3


def cpu_seconds_of(process):
    """User and system CPU time of a finished child."""
    _, _, usage = os.wait4(process.pid, 0)
    process.returncode = 0
    return usage.ru_utime + usage.ru_stime


def fresh(name):
    folder = os.path.join(WORK, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def minimal_program_cpu(seconds, *arguments):
    """Wine's cost of a dialog program over the same time, start and exit included; with /capture
    it also captures from the line-in as the recorder does, and discards the audio."""
    folder = fresh("minimal")
    line_in = harness.LineIn(folder)
    try:
        line_in.play_tone(seconds + 10)
        process = harness.wine(os.path.join(harness.BIN, "minimal_dialog.exe"), *arguments, env=line_in.env)
        harness.wait_window(MINIMAL)
        time.sleep(seconds)
        harness.close_window(MINIMAL)
        return cpu_seconds_of(process)
    finally:
        line_in.close()


def encoder_cpu(seconds):
    """The encoder's own work for the same audio, through gogo.dll."""
    out = os.path.join(fresh("encoder"), "encoder.mp3")
    result = subprocess.run(["wine", "encoder_bench.exe", "dll", "48000", "320", str(seconds), out],
                            cwd=harness.BIN, capture_output=True, text=True, check=True)
    speed = float(result.stdout.strip())
    return seconds / speed


def recording_cpu(seconds):
    folder = fresh("cpu")
    line_in = harness.LineIn(folder)
    try:
        line_in.play_tone_before_capture(seconds + 10)
        program = harness.Program(folder, line_in)
        process = program.start("/P320_48_2", "/A", f"/T{seconds}", "cpu.mp3")
        return cpu_seconds_of(process)
    finally:
        line_in.close()


def probe_round_trip():
    started = time.monotonic()
    harness.window_state()
    return time.monotonic() - started


def stop_to_save(preset, record_seconds=10):
    """Seconds from the Stop click until Save is enabled, less one probe round trip."""
    folder = fresh("stop_" + preset.strip("/"))
    line_in = harness.LineIn(folder)
    program = harness.Program(folder, line_in)
    try:
        line_in.play_tone_before_capture(record_seconds + 20)
        program.start(preset, "/A", "stop.mp3")
        harness.wait_window()
        time.sleep(record_seconds)
        round_trip = probe_round_trip()
        started = time.monotonic()
        harness.click(harness.IDC_RECORD)
        while not harness.window_state()[harness.IDC_SAVE]["enabled"]:
            pass
        elapsed = time.monotonic() - started
        harness.close_window()
        program.wait()
        return elapsed, round_trip
    finally:
        program.kill()
        line_in.close()


def time_to_window(executable, caption, arguments=()):
    folder = fresh("start")
    shutil.copy(os.path.join(harness.BIN, executable), folder)
    shutil.copy(os.path.join(harness.BIN, "gogo.dll"), folder)
    started = time.monotonic()
    process = harness.wine(executable, *arguments, cwd=folder)
    harness.wait_window(caption)
    elapsed = time.monotonic() - started
    harness.close_window(caption)
    process.wait()
    return elapsed


def median(measure):
    return sorted(measure() for _ in range(REPEATS))[REPEATS // 2]


def main():
    print(f"Median CPU time of {REPEATS} runs over {SECONDS} s of recording at 48 kHz stereo 320 kbit/s (Wine on the i386 emulator):")
    idle = median(lambda: minimal_program_cpu(SECONDS))
    capture = median(lambda: minimal_program_cpu(SECONDS, "/capture", "/poll"))
    encoder = median(lambda: encoder_cpu(SECONDS))
    recorder = median(lambda: recording_cpu(SECONDS))
    own = recorder - capture - encoder
    print(f"  idle dialog program              {idle:7.2f} s")
    print(f"  same, capturing, 20 ms waits     {capture:7.2f} s   (baseline)")
    print(f"  encoder alone through gogo.dll   {encoder:7.2f} s")
    print(f"  recorder, whole process          {recorder:7.2f} s   ratio to capture + encoder {recorder / (capture + encoder):.3f}")
    print(f"  recorder's own share             {own:7.2f} s = {100 * own / SECONDS:.2f} % of an emulated core")

    print("Stop click to finished file and Save enabled (less one probe round trip):")
    for preset in ("/P320_48_2", "/P128_44_2", "/P8_16_1"):
        elapsed, round_trip = stop_to_save(preset)
        print(f"  {preset:<11} {elapsed - round_trip:5.2f} s   (probe round trip {round_trip:.2f} s)")

    print("Start to window visible, median of", REPEATS, "starts:")
    minimal = median(lambda: time_to_window("minimal_dialog.exe", MINIMAL))
    recorder_start = median(lambda: time_to_window("kanoru.exe", harness.CAPTION))
    print(f"  minimal dialog program (baseline) {minimal:5.2f} s")
    print(f"  recorder                          {recorder_start:5.2f} s   ratio {recorder_start / minimal:.3f}")


if __name__ == "__main__":
    main()
