"""The soak of bench/soak. Usage: soak.py WORK_FOLDER MINUTES."""
import os
import shutil
import subprocess
import sys
import time

import numpy

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "harness"))
import harness  # noqa: E402

WORK = sys.argv[1]
MINUTES = float(sys.argv[2])
LIMIT_SECONDS = int(MINUTES * 60)
RATE = 48000
# Whole-hertz tones with no common factor with each other or the rate but 1 and 3: a dropped or
# repeated stretch of samples hides from both phases only when it is whole seconds long, which
# the decoded length shows instead.
TONES = (441, 557)
WINDOW = RATE // 100  # 10 ms
PHASE_BREAK_RADIANS = 0.2
QUIET_SHARE = 0.1
SAMPLE_EVERY_SECONDS = 10
BASELINE_SECONDS = 300
SIGNAL_LEAD_SECONDS = 2
# The encoder's start and the last frame's padding are not the tone.
EDGE_SECONDS = 0.2


def play_tones(line_in, seconds):
    """One tone per channel, made and played as it goes: an hour of it would be 600 MB as a file."""
    synth = subprocess.Popen(["sox", "-q", "-n", "-r", str(harness.LINE_IN_RATE), "-c", "2", "-b", "16", "-t", "raw", "-",
                              "synth", str(seconds), "sine", str(TONES[0]), "sine", str(TONES[1]), "vol", "0.5"],
                             stdout=subprocess.PIPE)
    player = subprocess.Popen(["pacat", "--playback", "--raw", f"--rate={harness.LINE_IN_RATE}", "--channels=2",
                               "--format=s16le", "--latency-msec=200", "--device=linein_feed"],
                              stdin=synth.stdout, env=line_in.env, stderr=subprocess.DEVNULL)
    synth.stdout.close()
    return synth, player


def process_sample(pid):
    """Resident memory in KiB and CPU seconds of the program's process."""
    with open(f"/proc/{pid}/status") as status:
        rss = next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return rss, (int(fields[11]) + int(fields[12])) / ticks


def record(folder):
    line_in = harness.LineIn(folder)
    synth, player = play_tones(line_in, LIMIT_SECONDS + 60)
    samples = []
    try:
        time.sleep(SIGNAL_LEAD_SECONDS)
        program = harness.Program(folder, line_in)
        process = program.start("/P320_48_2", "/A", f"/T{LIMIT_SECONDS}", "soak.mp3")
        started = time.monotonic()
        while process.poll() is None:
            try:
                samples.append((time.monotonic() - started, *process_sample(process.pid)))
            except (OSError, StopIteration):
                pass
            time.sleep(SAMPLE_EVERY_SECONDS)
        return process.returncode, time.monotonic() - started, samples
    finally:
        for child in (player, synth):
            child.kill()
            child.wait()
        line_in.close()


def analyse(path):
    """Decoded seconds, and per channel the phase breaks and quiet stretches (seconds into the file)."""
    decoder = subprocess.Popen(["ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-ac", "2", "-ar", str(RATE), "-"],
                               stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    windows_per_chunk = 1000
    chunk_bytes = WINDOW * windows_per_chunk * 4
    phases = [[], []]
    levels = [[], []]
    position = 0
    while True:
        data = decoder.stdout.read(chunk_bytes)
        frames = len(data) // 4 // WINDOW * WINDOW
        if frames == 0:
            break
        stereo = numpy.frombuffer(data[: frames * 4], dtype="<i2").reshape(-1, 2).astype(numpy.float64)
        index = numpy.arange(position, position + frames, dtype=numpy.int64)
        for channel, tone in enumerate(TONES):
            # Against a reference locked to the sample count: a steady tone keeps one phase throughout.
            cycle = (index * tone) % RATE / RATE
            reference = numpy.exp(-2j * numpy.pi * cycle)
            z = (stereo[:, channel] * reference).reshape(-1, WINDOW).sum(axis=1)
            phases[channel].append(numpy.angle(z))
            levels[channel].append(numpy.abs(z))
        position += frames
    decoder.wait()
    seconds = position / RATE
    report = []
    edge = int(EDGE_SECONDS * 100)
    for channel in range(2):
        phase = numpy.unwrap(numpy.concatenate(phases[channel]))[edge:-edge]
        level = numpy.concatenate(levels[channel])[edge:-edge]
        steps = numpy.diff(phase)
        breaks = numpy.nonzero(numpy.abs(steps - numpy.median(steps)) > PHASE_BREAK_RADIANS)[0]
        quiet = numpy.nonzero(level < QUIET_SHARE * numpy.median(level))[0]
        report.append(([(i + edge + 1) / 100 for i in breaks], [(i + edge) / 100 for i in quiet]))
    return seconds, report


def stretches(times, gap=0.011):
    """Consecutive 10 ms windows joined into (start, end) stretches."""
    joined = []
    for t in times:
        if joined and t - joined[-1][1] <= gap:
            joined[-1][1] = t
        else:
            joined.append([t, t])
    return joined


def summarise(samples):
    baseline = [s for s in samples if s[0] <= BASELINE_SECONDS] or samples[:1]
    last = [s for s in samples if s[0] >= samples[-1][0] - BASELINE_SECONDS]
    rss_first = numpy.median([s[1] for s in baseline])
    rss_last = numpy.median([s[1] for s in last])
    print(f"  memory (resident, Wine and the emulator included): median {rss_first / 1024:.1f} MiB over the first "
          f"{BASELINE_SECONDS // 60} min (baseline), {rss_last / 1024:.1f} MiB over the last, ratio {rss_last / rss_first:.3f}; "
          f"largest {max(s[1] for s in samples) / 1024:.1f} MiB")
    def rate(part):
        return (part[-1][2] - part[0][2]) / (part[-1][0] - part[0][0]) if len(part) > 1 else float("nan")
    first_rate, last_rate = rate(baseline), rate(last)
    print(f"  CPU time: {samples[-1][2]:.0f} s over the run; {100 * first_rate:.1f} % of a core over the first "
          f"{BASELINE_SECONDS // 60} min (baseline), {100 * last_rate:.1f} % over the last, ratio {last_rate / first_rate:.3f}")


def main():
    folder = os.path.join(WORK, "run")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    code, wall, samples = record(folder)
    seconds, report = analyse(os.path.join(folder, "soak.mp3"))
    print(f"Soak: /P320_48_2 /A /T{LIMIT_SECONDS} from the virtual line-in, {TONES[0]} Hz left and {TONES[1]} Hz right "
          f"(Wine on the i386 emulator)")
    print(f"  exit code {code} after {wall:.1f} s")
    print(f"  decoded {seconds:.3f} s against the limit of {LIMIT_SECONDS} s, ratio {seconds / LIMIT_SECONDS:.5f}")
    for name, (breaks, quiet) in zip(("left", "right"), report):
        print(f"  {name}: {len(breaks)} phase breaks over {PHASE_BREAK_RADIANS} rad between 10 ms windows"
              + (f" at {', '.join(f'{t:.2f}' for t in breaks[:20])} s" if breaks else ""))
        spans = stretches(quiet)
        print(f"  {name}: {len(spans)} quiet stretches (under {QUIET_SHARE:.0%} of the median level)"
              + (" at " + ", ".join(f"{a:.2f}-{b + 0.01:.2f}" for a, b in spans[:20]) + " s" if spans else ""))
    if samples:
        summarise(samples)


if __name__ == "__main__":
    main()
