"""Measures the recorder against baselines from the same run (see bench/recorder).
Usage: recorder_bench.py WORK_FOLDER [RECORD_SECONDS]; every figure is the median of its runs, with
their spread."""
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
SAMPLE_EVERY_SECONDS = 0.5


def thread_cpu(pid):
    """CPU seconds of each thread of a process: under Wine every Windows thread is one of the
    emulator's, with its own /proc/PID/task/TID/stat."""
    ticks = os.sysconf("SC_CLK_TCK")
    found = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        found[int(tid)] = (int(fields[11]) + int(fields[12])) / ticks
    return found


def fresh(name):
    folder = os.path.join(WORK, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def encoder_cpu(seconds):
    """The encoder's own work for the same audio (the line-in's tone), through gogo.dll."""
    out = os.path.join(fresh("encoder"), "encoder.mp3")
    result = subprocess.run(["wine", "encoder_bench.exe", "dll", "48000", "320", str(seconds), out, "3", "tone"],
                            cwd=harness.BIN, capture_output=True, text=True, check=True)
    speed = float(result.stdout.strip())
    return seconds / speed


def recording_threads(seconds):
    """CPU seconds of the program's main thread (capture, counters, the window) and of its encoder
    thread over a recording. The main thread is the process's first; the encoder's is the busiest
    of those that appear once the window is up (Wine's audio threads also start at Record)."""
    folder = fresh("cpu")
    line_in = harness.LineIn(folder)
    try:
        line_in.play_tone_before_capture(seconds + 10)
        program = harness.Program(folder, line_in)
        process = program.start("/P320_48_2", "/A", f"/T{seconds}", "cpu.mp3")
        harness.wait_window()
        before = set(thread_cpu(process.pid))
        last = {}
        while process.poll() is None:
            try:
                last.update(thread_cpu(process.pid))
            except OSError:
                pass
            time.sleep(SAMPLE_EVERY_SECONDS)
        process.wait()
        newer = {tid: cpu for tid, cpu in last.items() if tid not in before}
        return last[process.pid], max(newer.values())
    finally:
        line_in.close()


def spread(values):
    """The median and the range of repeated measurements."""
    ordered = sorted(values)
    return ordered[len(ordered) // 2], ordered[0], ordered[-1]


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
    return spread([measure() for _ in range(REPEATS)])[0]


def main():
    print(f"CPU time over {SECONDS} s of recording at 48 kHz stereo 320 kbit/s, median of {REPEATS} runs "
          "(lowest-highest), Wine on the i386 emulator:")
    mains, encoders, alone, overheads = [], [], [], []
    # Alternated, so that a slower spell of the machine falls on both sides of the ratio.
    for _ in range(REPEATS):
        main_cpu, encoder_thread = recording_threads(SECONDS)
        encoder_alone = encoder_cpu(SECONDS)
        mains.append(main_cpu)
        encoders.append(encoder_thread)
        alone.append(encoder_alone)
        overheads.append(encoder_thread / encoder_alone)
    share = spread([100 * m / SECONDS for m in mains])
    print("  main thread (capture, counters, window)   {:6.2f} s = {:.2f} % of a core ({:.2f}-{:.2f} %)".format(
        spread(mains)[0], *share))
    print("  encoder thread                            {:6.2f} s ({:.2f}-{:.2f})".format(*spread(encoders)))
    print("  encoder alone through gogo.dll, same audio length {:6.2f} s ({:.2f}-{:.2f})".format(*spread(alone)))
    print("  encoder thread / encoder alone (the read callback's and queue's cost)  {:.3f} ({:.3f}-{:.3f})".format(
        *spread(overheads)))

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
