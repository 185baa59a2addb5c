"""The soak of bench/soak. Usage: soak.py WORK_FOLDER MINUTES [--hiccups]."""
import json
import os
import shutil
import signal
import subprocess
import sys
import time

import numpy

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "harness"))
import harness  # noqa: E402

WORK = sys.argv[1]
MINUTES = float(sys.argv[2])
HICCUPS = "--hiccups" in sys.argv[3:]
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
# With --hiccups: every five minutes from the first two and a half, the line-in's server is ended
# for a while and started again, or the program is frozen (a sleep's stand-in), in this order.
HICCUP_EVERY_SECONDS = 300
FIRST_HICCUP_SECONDS = 150
HICCUPS_IN_TURN = (("server", 1), ("server", 5), ("server", 30), ("freeze", 30))
# A phase break this close to a silence belongs to it (the tone starts again with its own phase).
GAP_MARGIN_SECONDS = 0.5
# A program break this close to one in the control recording is the source's own.
SOURCE_MATCH_SECONDS = 1.0


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


class Control:
    """The line-in recorded beside the program by parecord, one segment per life of the server, so
    that a break in the source itself is told apart from one of the program's."""

    def __init__(self, folder, line_in, started):
        self.folder, self.line_in, self.started = folder, line_in, started
        self.segments = []
        self.recorder = None

    def start(self):
        path = os.path.join(self.folder, f"control-{len(self.segments)}.wav")
        self.recorder = subprocess.Popen(["parecord", "--device=linein_feed.monitor", f"--rate={RATE}", "--channels=2",
                                          "--format=s16le", "--file-format=wav", "--latency-msec=200", path],
                                         env=self.line_in.env, stderr=subprocess.DEVNULL)
        self.segments.append((time.monotonic() - self.started, path))

    def stop(self):
        if self.recorder and self.recorder.poll() is None:
            self.recorder.terminate()
        if self.recorder:
            self.recorder.wait()


def hiccup(number, program, line_in, players, control, started):
    """Carries out one hiccup; its kind, when it began and how long it lasted (seconds since the start)."""
    kind, seconds = HICCUPS_IN_TURN[number % len(HICCUPS_IN_TURN)]
    began = time.monotonic() - started
    if kind == "freeze":
        os.kill(program.process.pid, signal.SIGSTOP)
        time.sleep(seconds)
        os.kill(program.process.pid, signal.SIGCONT)
    else:
        # The control first, so that its file is closed whole.
        control.stop()
        line_in.stop_server()
        for child in players:
            child.kill()
            child.wait()
        time.sleep(seconds)
        line_in.restart_server()
        players[:] = play_tones(line_in, LIMIT_SECONDS + 60)
        control.start()
    return kind, began, time.monotonic() - started - began


def record(folder):
    line_in = harness.LineIn(folder)
    players = list(play_tones(line_in, LIMIT_SECONDS + 60))
    samples, hiccups = [], []
    control = None
    try:
        time.sleep(SIGNAL_LEAD_SECONDS)
        program = harness.Program(folder, line_in)
        process = program.start("/P320_48_2", "/A", f"/T{LIMIT_SECONDS}", "soak.mp3")
        started = time.monotonic()
        control = Control(folder, line_in, started)
        control.start()
        next_hiccup = FIRST_HICCUP_SECONDS if HICCUPS else float("inf")
        next_sample = 0
        while process.poll() is None:
            now = time.monotonic() - started
            if now >= next_hiccup and now < LIMIT_SECONDS - HICCUP_EVERY_SECONDS / 5:
                hiccups.append(hiccup(len(hiccups), program, line_in, players, control, started))
                next_hiccup += HICCUP_EVERY_SECONDS
            if now >= next_sample:
                try:
                    samples.append((now, *process_sample(process.pid)))
                except (OSError, StopIteration):
                    pass
                next_sample += SAMPLE_EVERY_SECONDS
            time.sleep(0.5)
        return process.returncode, time.monotonic() - started, samples, hiccups, control.segments
    finally:
        if control:
            control.stop()
        for child in reversed(players):
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


def print_hiccups(hiccups, quiet, breaks, control_breaks):
    """Per hiccup the silence found in the file where it happened, and the breaks outside them."""
    spans = [(a, b + 0.01) for a, b in stretches(sorted(set(quiet[0]) | set(quiet[1])))]
    print("  hiccup            began (s)  outage (s)  silence in the file (s)  excess (s)")
    matched = []
    for kind, began, lasted in hiccups:
        # The file keeps the wall clock from a moment after the program's start.
        near = [span for span in spans if abs(span[0] - began) < 5]
        silence = sum(b - a for a, b in near)
        matched.extend(near)
        label = f"{kind} {round(lasted)} s"
        excess = f"{silence - lasted:+.2f}" if near else "no silence found"
        print(f"  {label:<17} {began:9.1f}  {lasted:10.2f}  {silence:23.2f}  {excess}")
    other = [span for span in spans if span not in matched]
    print(f"  silences not at a hiccup: {len(other)}" + (" at " + ", ".join(f"{a:.2f}-{b:.2f}" for a, b in other[:10])
                                                        if other else ""))
    for name, times in zip(("left", "right"), breaks):
        outside = [t for t in times if not any(a - GAP_MARGIN_SECONDS <= t <= b + GAP_MARGIN_SECONDS for a, b in spans)]
        in_source = [t for t in outside if any(abs(t - c) <= SOURCE_MATCH_SECONDS for c in control_breaks)]
        print(f"  {name}: {len(outside)} phase breaks outside the silences, {len(in_source)} of them also in the "
              f"control recording" + (f" (at {', '.join(f'{t:.2f}' for t in outside[:10])} s)" if outside else ""))


def control_breaks(segments):
    """The control recording's phase breaks, as seconds since the program's start."""
    found = []
    for began, path in segments:
        if not os.path.exists(path) or os.path.getsize(path) < RATE * 4:
            continue
        _, report = analyse(path)
        for breaks, _ in report:
            found.extend(began + t for t in breaks)
    return sorted(set(round(t, 2) for t in found))


def main():
    folder = os.path.join(WORK, "run")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    code, wall, samples, hiccups, segments = record(folder)
    with open(os.path.join(folder, "hiccups.json"), "w") as f:
        json.dump({"hiccups": hiccups, "segments": segments}, f)
    seconds, report = analyse(os.path.join(folder, "soak.mp3"))
    print(f"Soak: /P320_48_2 /A /T{LIMIT_SECONDS} from the virtual line-in, {TONES[0]} Hz left and {TONES[1]} Hz right "
          f"(Wine on the i386 emulator)" + (", with hiccups" if hiccups else ""))
    print(f"  exit code {code} after {wall:.1f} s")
    print(f"  decoded {seconds:.3f} s against the limit of {LIMIT_SECONDS} s, ratio {seconds / LIMIT_SECONDS:.5f}")
    if hiccups:
        source = control_breaks(segments)
        print(f"  control recording (parecord beside the program, {len(segments)} segments): {len(source)} phase breaks"
              + (f" at {', '.join(f'{t:.2f}' for t in source[:10])} s" if source else ""))
        print_hiccups(hiccups, [q for _, q in report], [b for b, _ in report], source)
    else:
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
