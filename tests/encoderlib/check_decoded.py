#!/usr/bin/env python3
"""Checks the MP3 files that encode_all_combinations wrote with independent decoders."""
import json
import os
import subprocess
import sys

MPEG1_BITRATES = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320]
MPEG2_BITRATES = [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160]
MPEG1_RATES = [44100, 48000, 32000]
MPEG2_RATES = [22050, 24000, 16000]
MONO, JOINT_STEREO = 3, 1
FREQUENCY_TOLERANCE = 0.01


def frames(data):
    """Yields (offset, bitrate, rate, mode, length) of each frame, from the start of the file."""
    offset = 0
    while offset + 4 <= len(data):
        b1, b2, b3 = data[offset + 1], data[offset + 2], data[offset + 3]
        if data[offset] != 0xFF or (b1 & 0xE0) != 0xE0 or (b1 >> 1) & 3 != 1:
            raise ValueError(f"no frame header at byte {offset}")
        mpeg1 = (b1 >> 3) & 3 == 3
        bitrate = (MPEG1_BITRATES if mpeg1 else MPEG2_BITRATES)[b2 >> 4]
        rate = (MPEG1_RATES if mpeg1 else MPEG2_RATES)[(b2 >> 2) & 3]
        padding = (b2 >> 1) & 1
        length = (144000 if mpeg1 else 72000) * bitrate // rate + padding
        yield offset, bitrate, rate, b3 >> 6, length
        offset += length


def decoded_samples(command, channels):
    raw = subprocess.run(command, check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         stdin=subprocess.DEVNULL).stdout
    return raw, len(raw) // (2 * channels)


def dominant_frequency(raw, channels, rate):
    samples = [int.from_bytes(raw[i:i + 2], "little", signed=True)
               for i in range(0, len(raw) - 1, 2 * channels)]
    middle = samples[len(samples) // 10: len(samples) * 9 // 10]
    crossings = sum(1 for a, b in zip(middle, middle[1:]) if (a < 0) != (b < 0))
    return crossings / 2 / (len(middle) / rate)


def check_file(folder, name, rate, kbps, channels, samples, tone):
    path = os.path.join(folder, name)
    problems = []
    data = open(path, "rb").read()
    mode = MONO if channels == 1 else JOINT_STEREO
    all_frames = list(frames(data))
    tag = all_frames[0]
    side_info = (17 if mode == MONO else 32) if rate >= 32000 else (9 if mode == MONO else 17)
    if data[4 + side_info: 8 + side_info] != b"Info":
        problems.append("the first frame is not an Info tag")
    if tag[1] < kbps or tag[2] != rate or tag[3] != mode:
        problems.append(f"tag frame header {tag[1:4]}")
    for offset, bitrate, frame_rate, frame_mode, _ in all_frames[1:]:
        if (bitrate, frame_rate, frame_mode) != (kbps, rate, mode):
            problems.append(f"frame at {offset}: {bitrate} kbit/s {frame_rate} Hz mode {frame_mode}")
            break
    probe = json.loads(subprocess.run(
        ["ffprobe", "-v", "error", "-show_entries", "stream=sample_rate,channels,start_time:format=duration",
         "-of", "json", path], check=True, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL).stdout)
    stream = probe["streams"][0]
    if int(stream["sample_rate"]) != rate or int(stream["channels"]) != channels:
        problems.append(f"ffprobe sees {stream}")
    # Like LAME's own files: the duration counts the tag's audio frames, and the start time is the
    # encoder and decoder delay read from the tag, which players trim.
    frame_seconds = (1152 if rate >= 32000 else 576) / rate
    if abs(float(probe["format"]["duration"]) - (len(all_frames) - 1) * frame_seconds) > 0.001:
        problems.append(f"ffprobe duration {probe['format']['duration']} for {len(all_frames) - 1} frames")
    if abs(float(stream["start_time"]) - (576 + 529) / rate) > 0.001:
        problems.append(f"ffprobe start time {stream['start_time']}: the tag's delay was not read")
    raw, mpg123_samples = decoded_samples(["mpg123", "-q", "-s", path], channels)
    if mpg123_samples != samples:
        problems.append(f"mpg123 decodes {mpg123_samples} samples of {samples}")
    _, ffmpeg_samples = decoded_samples(["ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-"], channels)
    if ffmpeg_samples != samples:
        problems.append(f"ffmpeg decodes {ffmpeg_samples} samples of {samples}")
    frequency = dominant_frequency(raw, channels, rate)
    if abs(frequency - tone) > tone * FREQUENCY_TOLERANCE:
        problems.append(f"tone at {frequency:.1f} Hz instead of {tone} Hz")
    return problems


def check_cut_recording(folder):
    """A recording whose process died mid-way, then cut at arbitrary bytes, still decodes up to there."""
    path = os.path.join(folder, "unfinished_44100_2.mp3")
    data = open(path, "rb").read()
    problems = []
    whole_seconds = 5
    for cut in (len(data), len(data) - 1, len(data) * 3 // 4 + 17, len(data) // 2 + 333):
        cut_path = path + ".cut.mp3"
        with open(cut_path, "wb") as out:
            out.write(data[:cut])
        _, samples = decoded_samples(["mpg123", "-q", "-s", cut_path], 2)
        expected = whole_seconds * 44100 * cut / len(data)
        if samples < expected - 2 * 44100:
            problems.append(f"unfinished recording: cut at {cut} of {len(data)} bytes decodes only {samples / 44100:.2f} s")
        _, ffmpeg_samples = decoded_samples(["ffmpeg", "-v", "error", "-i", cut_path, "-f", "s16le", "-"], 2)
        if ffmpeg_samples < expected - 2 * 44100:
            problems.append(f"unfinished recording: ffmpeg: cut at {cut} decodes only {ffmpeg_samples / 44100:.2f} s")
        os.remove(cut_path)
    return problems


def check_empty_recordings(folder):
    """Recordings that ended before any sound came: ffprobe, mpg123 and ffmpeg all open them, and
    mpg123, which trims to the tag, finds no more than the one silent sample it declares."""
    names = sorted(f for f in os.listdir(folder) if f.startswith("empty_"))
    problems = [] if names else ["no empty recordings were written"]
    for name in names:
        path = os.path.join(folder, name)
        channels = int(name[:-4].split("_")[2])
        if subprocess.run(["ffprobe", "-v", "error", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          stdin=subprocess.DEVNULL).returncode != 0:
            problems.append(f"{name}: ffprobe refuses it")
        for command in (["mpg123", "-q", "-s", path], ["ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-"]):
            try:
                _, samples = decoded_samples(command, channels)
            except subprocess.CalledProcessError:
                problems.append(f"{name}: {command[0]} refuses it")
                continue
            if samples > 1 and command[0] == "mpg123":
                problems.append(f"{name}: {command[0]} decodes {samples} samples")
    return problems


def main():
    folder = sys.argv[1]
    checked = failed = 0
    manifests = sorted(f for f in os.listdir(folder) if f == "manifest.txt" or f.endswith(".manifest"))
    lines = [line for name in manifests for line in open(os.path.join(folder, name))]
    for line in lines:
        name, rate, kbps, channels, samples, tone = line.split()
        problems = check_file(folder, name, int(rate), int(kbps), int(channels), int(samples), float(tone))
        checked += 1
        if problems:
            failed += 1
            print(f"{name}: " + "; ".join(problems))
    pipeline = "--pipeline" in sys.argv
    problems = [] if pipeline else check_cut_recording(folder) + check_empty_recordings(folder)
    for problem in problems:
        print(problem)
    print(f"{checked} files checked, {failed} with problems")
    sys.exit(1 if failed or problems or (not pipeline and checked != 168) or checked == 0 else 0)


if __name__ == "__main__":
    main()
