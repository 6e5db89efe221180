"""The take as sound and as a picture, with the real program through a JACK server.

Nolari starts on the demo song beside a three-minute take saved before: "Export take as audio"
renders that take, the title showing the progress while the window keeps working. Then the
capture client taps 17 groups of the demo at exact frames, in time, then half as fast again, then
at 70 %: the overview shows the tempo curve at those heights with its dotted line at 100 % (the
picture goes to docs/ when NOLARI_SCREENSHOT_DIR is set). A second export saves the take so far
first and renders it; the WAV is read back: its rate, its length, sound where the notes were.
Last, `nolari --render` renders the demo song without a window, and refuses a missing file with
one line and status 1."""

import array
import math
import os
import re
import subprocess
import time
import wave

import harness
import midofile
import playing
from harness import check

RATE = 48000
AUDIBLE = 1e-3
# The overview band in window fractions from the bottom (the layout at the nominal 573 pixels).
OVERVIEW_TOP, OVERVIEW_BOTTOM = 0.183405, 0.024275
WHITE = (255, 255, 255)
# Each tap's tempo as a percentage of the song's, from the second tap on.
TEMPI = [100] * 5 + [150] * 5 + [70] * 6


def long_take():
    """Three minutes of three-note chords four times a second, each held 0.4 s (1 ms ticks, as a
    saved take has)."""
    events = [(0, bytes([0xFF, 0x51, 3, 0x0F, 0x42, 0x40])), (0, bytes([0xC0, 0]))]
    for k in range(720):
        for pitch in (60 + k % 12, 64 + k % 12, 67 + k % 12):
            events += [(250 * k, bytes([0x90, pitch, 90])), (250 * k + 400, bytes([0x80, pitch, 0]))]
    return harness.smf([events], division=1000, fmt=0)


def read_song(song):
    """The song times of the demo's groups and of its Note Ons, and its length, as Nolari reads it
    (tools/songdump)."""
    out = subprocess.run([harness.tool("songdump"), song], capture_output=True, text=True, check=True).stdout
    end = float(re.search(r"end time ([0-9.]+) s", out).group(1))
    ons = [f for f in (line.split() for line in out.splitlines()) if len(f) > 10 and f[4] == "note" and f[5] == "90"]
    return [float(f[2]) for f in ons if f[10] == "1"], [float(f[2]) for f in ons], end


def samples(path):
    with wave.open(path) as w:
        check((w.getframerate(), w.getnchannels(), w.getsampwidth()) == (RATE, 2, 2),
              "%s: %d Hz, %d channels, %d bytes a sample" % (path, w.getframerate(), w.getnchannels(), w.getsampwidth()))
        data = array.array("h", w.readframes(w.getnframes()))
    return data


def rms(data, start, end):
    part = data[2 * int(start * RATE):2 * int(end * RATE)]
    return math.sqrt(sum(x * x for x in part) / max(1, len(part))) / 32768


def exported(s, take):
    """Waits for the export's log line; returns the seconds of sound and of rendering it gave."""
    wav = take[:-len(".mid")] + ".wav"
    line = s.wait_log("Exported take %s (" % wav, timeout=60).split("Exported take %s (" % wav)[1].split("\n")[0]
    sound, took = re.match(r"([0-9.]+) s of sound, rendered in ([0-9.]+) s\)", line).groups()
    return wav, float(sound), float(took)


def long_export_with_progress(s):
    s.write_song("demo-take-1.mid", long_take())
    playing.choose(s, "Export take as audio")
    progress = harness.wait_until(lambda: re.search(r"Exporting audio (\d+) %", s.title()), 20, "the progress in the title")
    s.key("Right")  # the window still takes keys while it renders
    wav, sound, took = exported(s, s.path("demo-take-1.mid"))
    print("a three-minute take rendered through the menu: %.1f s of sound in %.1f s, %.0f times real time "
          "(the title showed %s %%)" % (sound, took, sound / took, progress.group(1)))
    check(180.4 <= sound <= 185.5, "the three-minute take gave %.1f s of sound" % sound)
    harness.wait_until(lambda: "Exporting" not in s.title(), 5, "the title without the progress")
    s.key("Home")


def tap_in_tempi(cap, starts):
    """Taps 17 groups with Note On 64 from the capture client at exact frames, each released after
    half of its interval."""
    cap.send_after(playing.PERIOD * 8, b"\x90\x40\x64")
    for k, percent in enumerate(TEMPI, start=1):
        interval = round((starts[k] - starts[k - 1]) * 100 / percent * RATE)
        cap.send_after(interval // 2, b"\x80\x40\x00")
        cap.send_after(interval - interval // 2, b"\x90\x40\x64")
    cap.send_after(RATE // 4, b"\x80\x40\x00")


def check_tempo_curve(s, starts, end):
    """The curve is white at each tapped group's time at the height of its tempo; the dotted 100 %
    line runs across the band."""
    def drawn():
        image = s.screenshot()
        top, bottom = (1 - OVERVIEW_TOP) * image.height, (1 - OVERVIEW_BOTTOM) * image.height
        middle, half = (top + bottom) / 2, (bottom - top) / 2
        for k, percent in enumerate(TEMPI, start=1):
            x = round(starts[k] / end * image.width)
            y = middle - half * max(-1, min(1, math.log2(percent / 100)))
            near = [image.pixel(x + dx, round(y) + dy) for dx in (-1, 0, 1) for dy in range(-3, 4)]
            if WHITE not in near:
                return None
        dots = sum(image.pixel(x, round(middle) + dy) == WHITE for x in range(image.width) for dy in (-1, 0, 1))
        return image if dots >= image.width // 8 else None

    return harness.wait_until(drawn, 15, "the tempo curve at 100, 150 and 70 %")


def check_take_sound(s, cap, before):
    take = s.path("demo-take-2.mid")
    s.wait_log("Saved take %s (" % take)
    wav, sound, took = exported(s, take)
    _, _, messages = midofile.read(take)
    ons = [t for t, m in messages if playing.is_note_on(m)]
    last = max(t for t, m in messages if playing.is_note_off(m))
    heard = [n for n in playing.notes(cap.events())[before:] if n[1] == "on"]
    check(len(ons) == len(heard), "the take holds %d Note Ons, the capture client heard %d" % (len(ons), len(heard)))
    data = samples(wav)
    length = len(data) / 2 / RATE
    print("the tapped take: %.2f s of notes, %.2f s of sound, rendered in %.2f s" % (last, length, took))
    check(abs(length - sound) <= 0.05, "the log says %.2f s, the file holds %.2f s" % (sound, length))
    check(last < length <= last + 5.05, "%.2f s of sound for %.2f s of notes" % (length, last))
    quiet = [t for t in ons if rms(data, t + 0.01, t + 0.1) < AUDIBLE]
    check(not quiet, "no sound after the Note Ons at %s s" % quiet)
    check(rms(data, length - 0.01, length) < 1 / 32768, "the sound does not end in silence")


def play_and_export(s):
    song = s.write_song("demo.mid", open(s.asset("demo.mid"), "rb").read())
    cap, _ = playing.start(s, "demo.mid", open(song, "rb").read())
    starts, ons, end = read_song(song)
    long_export_with_progress(s)

    before = len(playing.notes(cap.events()))
    tap_in_tempi(cap, starts)
    tapped = sum(1 for t in ons if t < starts[len(TEMPI) + 1])
    playing.wait_notes(cap, before + 2 * tapped, "the tapped groups", timeout=30)
    image = check_tempo_curve(s, starts, end)
    shots = os.environ.get("NOLARI_SCREENSHOT_DIR")
    if shots:
        os.makedirs(shots, exist_ok=True)
        image.save_png(os.path.join(shots, "display-tempo.png"))

    playing.choose(s, "Export take as audio")
    check_take_sound(s, cap, before)
    s.key("Escape")
    check(s.wait_exit() == 0, "Esc did not end the program with status 0")


def render_from_the_command_line(s):
    folder = os.path.join(s.work, "render")
    os.makedirs(folder)
    run = lambda *args: subprocess.run([harness.BIN, "--render"] + list(args), cwd=folder, capture_output=True,
                                       text=True, timeout=60)
    started = time.monotonic()
    done = run(s.asset("demo.mid"), "demo.wav")
    took = time.monotonic() - started
    check(done.returncode == 0 and done.stderr == "", "--render: status %d, %r" % (done.returncode, done.stderr))
    check(done.stdout.startswith("Rendered demo.wav ("), "--render said %r" % done.stdout)
    data = samples(os.path.join(folder, "demo.wav"))
    length = len(data) / 2 / RATE
    print("nolari --render on the demo song: %.1f s of sound in %.2f s" % (length, took))
    check(33.4 < length < 38.5, "the demo rendered to %.1f s" % length)
    check(all(rms(data, t, t + 1) > AUDIBLE for t in range(0, 33)), "a silent second in the demo's sound")
    refused = run("missing.mid", "out.wav")
    check(refused.returncode == 1 and refused.stdout == "", "a missing file: status %d" % refused.returncode)
    check(refused.stderr == "nolari: cannot render missing.mid into out.wav: No such file or directory\n",
          "a missing file: %r" % refused.stderr)
    check(sorted(os.listdir(folder)) == ["demo.wav"], "the renders left %s" % sorted(os.listdir(folder)))


def main():
    with harness.Session(jack=True) as s:
        playing.run_reporting_xruns(s, lambda: play_and_export(s))
        render_from_the_command_line(s)


harness.run(main)
