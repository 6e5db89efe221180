"""The take as sound and as a picture: on the demo song beside a three-minute take saved before,
"Export take as audio" renders that take with its progress in the title; 17 taps at exact frames
(in time, half as fast again, at 70 %) draw the tempo curve at those heights (the picture goes to
docs/ with NOLARI_SCREENSHOT_DIR set); a second export saves the take so far first, and its WAV
holds sound where the notes were; `nolari --render` renders the demo and refuses a missing file."""

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
OVERVIEW_TOP, OVERVIEW_BOTTOM = 0.183405, 0.024275  # window fractions from the bottom
TEMPI = [100] * 5 + [150] * 5 + [70] * 6  # each tap's tempo from the second on, % of the song's


def long_take():
    """Three minutes of chords four times a second, held 0.4 s, in ticks of 1 ms as a take has."""
    events = [(0, b"\xff\x51\x03\x0f\x42\x40"), (0, b"\xc0\x00")]
    for k in range(720):
        for pitch in (60 + k % 12, 64 + k % 12, 67 + k % 12):
            events += [(250 * k, bytes([0x90, pitch, 90])), (250 * k + 400, bytes([0x80, pitch, 0]))]
    return harness.smf([events], division=1000, fmt=0)


def read_song(song):
    """The song times of the groups and of the Note Ons, and the length, as Nolari reads them."""
    out = subprocess.run([harness.tool("songdump"), song], capture_output=True, text=True, check=True).stdout
    ons = [f for f in (line.split() for line in out.splitlines()) if len(f) > 10 and f[4:6] == ["note", "90"]]
    end = float(re.search(r"end time ([0-9.]+) s", out).group(1))
    return [float(f[2]) for f in ons if f[10] == "1"], [float(f[2]) for f in ons], end


def sound(path):
    """The samples of a 48 kHz 16-bit stereo WAV file, and a function giving the level of a span."""
    with wave.open(path) as w:
        form = (w.getframerate(), w.getnchannels(), w.getsampwidth())
        check(form == (RATE, 2, 2), "%s: %r, not 48 kHz 16-bit stereo" % (path, form))
        data = array.array("h", w.readframes(w.getnframes()))
    level = lambda a, b: math.sqrt(sum(x * x for x in data[2 * int(a * RATE):2 * int(b * RATE)]) / RATE / 2 / (b - a)) / 32768
    return data, level


def exported(s, take):
    wav = take[:-len(".mid")] + ".wav"
    line = s.wait_log("Exported take %s (" % wav, timeout=60).split("Exported take %s (" % wav)[1]
    seconds, took = map(float, re.match(r"([0-9.]+) s of sound, rendered in ([0-9.]+) s\)", line).groups())
    return wav, seconds, took


def tempo_curve_drawn(s, starts, end):
    """The curve's white core at each tap's group time and tempo, and the dotted 100 % line."""
    image = s.screenshot()
    top, bottom = (1 - OVERVIEW_TOP) * image.height, (1 - OVERVIEW_BOTTOM) * image.height
    middle = (top + bottom) / 2
    for k, percent in enumerate(TEMPI, start=1):
        x, y = round(starts[k] / end * image.width), round(middle - (bottom - top) / 2 * math.log2(percent / 100))
        if (255, 255, 255) not in [image.pixel(x + dx, y + dy) for dx in (-1, 0, 1) for dy in range(-5, 6)]:
            return None
    dots = sum(image.pixel(x, round(middle) + dy) == (255, 255, 255) for x in range(image.width) for dy in (-1, 0, 1))
    return image if dots >= image.width // 8 else None


def play_and_export(s):
    song = s.write_song("demo.mid", open(s.asset("demo.mid"), "rb").read())
    cap, _ = playing.start(s, "demo.mid", open(song, "rb").read())
    starts, ons, end = read_song(song)
    s.write_song("demo-take-1.mid", long_take())
    playing.choose(s, "Export take as audio")
    progress = harness.wait_until(lambda: re.search(r"Exporting audio (\d+) %", s.title()), 20, "the progress")
    s.key("Right", "Home")  # the window still takes keys while it renders
    _, seconds, took = exported(s, s.path("demo-take-1.mid"))
    print("a three-minute take exported through the menu: %.1f s of sound in %.1f s, %.0f times real time "
          "(the title showed %s %%)" % (seconds, took, seconds / took, progress.group(1)))
    check(180.4 <= seconds <= 185.5, "the three-minute take gave %.1f s of sound" % seconds)
    harness.wait_until(lambda: "Exporting" not in s.title(), 5, "the title without the progress")

    before = len(playing.notes(cap.events()))
    cap.send_after(playing.PERIOD * 8, b"\x90\x40\x64")
    for k, percent in enumerate(TEMPI, start=1):
        interval = round((starts[k] - starts[k - 1]) * 100 / percent * RATE)
        cap.send_after(interval // 2, b"\x80\x40\x00")
        cap.send_after(interval - interval // 2, b"\x90\x40\x64")
    cap.send_after(RATE // 4, b"\x80\x40\x00")
    tapped = sum(1 for t in ons if t < starts[len(TEMPI) + 1])
    playing.wait_notes(cap, before + 2 * tapped, "the tapped groups", timeout=30)
    image = harness.wait_until(lambda: tempo_curve_drawn(s, starts, end), 15, "the tempo curve at 100, 150, 70 %")
    if os.environ.get("NOLARI_SCREENSHOT_DIR"):
        image.save_png(os.path.join(os.environ["NOLARI_SCREENSHOT_DIR"], "display-tempo.png"))

    playing.choose(s, "Export take as audio")
    take = s.path("demo-take-2.mid")
    s.wait_log("Saved take %s (%d notes, " % (take, tapped))
    wav, seconds, took = exported(s, take)
    messages = midofile.read(take)[2]
    last = max(t for t, m in messages if playing.is_note_off(m))
    data, level = sound(wav)
    length = len(data) / 2 / RATE
    print("the tapped take: %.2f s of notes, %.2f s of sound, rendered in %.2f s" % (last, length, took))
    check(abs(length - seconds) <= 0.05 and last < length <= last + 5.05, "%.2f s of sound for %.2f s" % (length, last))
    quiet = [t for t, m in messages if playing.is_note_on(m) and level(t + 0.01, t + 0.1) < playing.AUDIBLE]
    check(not quiet and level(length - 0.01, length) < 1 / 32768, "no sound at %s s, or no silence at the end" % quiet)
    s.key("Escape")
    check(s.wait_exit() == 0, "Esc did not end the program with status 0")


def render_from_the_command_line(s):
    folder = os.path.join(s.work, "render")
    os.makedirs(folder)
    run = lambda *args: subprocess.run([harness.BIN, "--render"] + list(args), cwd=folder, capture_output=True,
                                       text=True, timeout=60)
    started = time.monotonic()
    done = run(s.asset("demo.mid"), "demo.wav")
    check(done.returncode == 0 and done.stdout.startswith("Rendered demo.wav (") and not done.stderr, repr(done))
    data, level = sound(os.path.join(folder, "demo.wav"))
    print("nolari --render on the demo: %.1f s of sound in %.2f s" % (len(data) / 2 / RATE, time.monotonic() - started))
    check(all(level(t, t + 1) > playing.AUDIBLE for t in range(0, 33)) and len(data) < 38.5 * 2 * RATE,
          "the demo's sound has a silent second or lasts %.1f s" % (len(data) / 2 / RATE))
    refused = run("missing.mid", "out.wav")
    check(refused.returncode == 1 and len(refused.stderr.splitlines()) == 1, repr(refused))
    check(os.listdir(folder) == ["demo.wav"], "the renders left %s" % os.listdir(folder))


def main():
    with harness.Session(jack=True) as s:
        playing.run_reporting_xruns(s, lambda: play_and_export(s))
        render_from_the_command_line(s)


harness.run(main)
