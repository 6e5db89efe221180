"""Whole-program test harness: runs the real nolari binary the way a user would.

A Session gives the program a private X display (Xvfb), a fresh starting directory, optionally a
JACK server with the dummy driver and our capture client, and tools to press keys, click, close
the window, read the log and files back, and take screenshots. Every wait is bounded; only the
processes a session started are stopped, by their ids.
"""

import os
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zlib

BIN = os.environ.get("NOLARI_BIN", "")
TOOLS = os.environ.get("NOLARI_TOOLS", "")
SOURCE = os.environ.get("NOLARI_SOURCE", os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_until(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(0.05)


def tool(name):
    path = os.path.join(TOOLS, name)
    check(os.path.exists(path), "tool %s not built (looked in %s)" % (name, TOOLS))
    return path


# --- Standard MIDI files -------------------------------------------------------------------------

def _varlen(value):
    groups = [value & 0x7F]
    value >>= 7
    while value:
        groups.append((value & 0x7F) | 0x80)
        value >>= 7
    return bytes(reversed(groups))


def smf(tracks, division=480, fmt=1):
    """tracks: list of lists of (absolute ticks, message bytes)."""
    out = b"MThd" + struct.pack(">IHHH", 6, fmt, len(tracks), division)
    for events in tracks:
        body = b""
        last = 0
        for ticks, message in sorted(events, key=lambda e: e[0]):
            body += _varlen(ticks - last) + bytes(message)
            last = ticks
        body += b"\x00\xff\x2f\x00"
        out += b"MTrk" + struct.pack(">I", len(body)) + body
    return out


def synth_name():
    """The name the software synthesizer is listed under: after the first General MIDI SoundFont
    installed."""
    for path in ["/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2",
                 "/usr/share/sounds/sf2/TimGM6mb.sf2"]:
        if os.access(path, os.R_OK):
            return "FluidSynth General MIDI (%s)" % os.path.basename(path)
    raise Failure("no General MIDI SoundFont installed in /usr/share/sounds/sf2")


# --- Screenshots ---------------------------------------------------------------------------------

class Image:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def crop(self, x0, y0, width, height):
        rows = []
        for y in range(y0, y0 + height):
            start = (y * self.width + x0) * 3
            rows.append(self.rgb[start:start + width * 3])
        return Image(width, height, b"".join(rows))

    def save_png(self, path):
        raw = b"".join(b"\x00" + self.rgb[y * self.width * 3:(y + 1) * self.width * 3] for y in range(self.height))

        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n")
            f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)))
            f.write(chunk(b"IDAT", zlib.compress(raw, 6)))
            f.write(chunk(b"IEND", b""))


def parse_xwd(data):
    """Decodes a TrueColor ZPixmap XWD dump, as xwd writes it for a 24-bit Xvfb screen."""
    header = struct.unpack(">25I", data[:100])
    header_size, _, _, depth, width, height = header[0:6]
    byte_order, bits_per_pixel, bytes_per_line = header[7], header[11], header[12]
    red_mask, green_mask, blue_mask = header[14:17]
    ncolors = header[19]
    check(bits_per_pixel in (24, 32), "unexpected xwd pixel size %d (depth %d)" % (bits_per_pixel, depth))
    offset = header_size + ncolors * 12
    step = bits_per_pixel // 8

    def shift(mask):
        s = 0
        while mask and not (mask >> s) & 1:
            s += 1
        return s

    rs, gs, bs = shift(red_mask), shift(green_mask), shift(blue_mask)
    order = "little" if byte_order == 0 else "big"
    rgb = bytearray(width * height * 3)
    for y in range(height):
        row = data[offset + y * bytes_per_line: offset + y * bytes_per_line + width * step]
        o = y * width * 3
        for x in range(0, width * step, step):
            v = int.from_bytes(row[x:x + step], order)
            rgb[o] = (v & red_mask) >> rs
            rgb[o + 1] = (v & green_mask) >> gs
            rgb[o + 2] = (v & blue_mask) >> bs
            o += 3
    return Image(width, height, bytes(rgb))


# --- JACK capture client -------------------------------------------------------------------------

class Capture:
    """audio_sources: JACK audio ports the client also listens to (its "sound"/"quiet" lines)."""

    def __init__(self, session, audio_sources=()):
        self.session = session
        self.path = os.path.join(session.work, "capture.txt")
        self.output = os.path.join(session.work, "jackcap.out")
        # A busy server may fail to take in a new client ("Cannot notify add client"); the client then
        # exits at once and is started again.
        for _ in range(3):
            self.proc = subprocess.Popen(session.launcher + [tool("jackcap"), self.path] + list(audio_sources),
                                         stdin=subprocess.PIPE, stdout=open(self.output, "a"),
                                         stderr=subprocess.STDOUT, env=session.env, text=True)
            session.children.append(self.proc)
            if wait_until(lambda: self._started(audio_sources), 10, "the capture client") != "exited":
                return
        raise Failure("the capture client did not start:\n" + open(self.output).read())

    def _started(self, audio_sources):
        if self.proc.poll() is not None:
            return "exited"
        if audio_sources:
            return "nolaricap:in" in self.session.jack_ports()
        # JACK refuses connections to a client that is not active yet, and Nolari connects at start:
        # the client's first cycle shows it active and the server running. (With audio sources its
        # lines wait until those are connected, which may need Nolari's own ports.)
        return bool(self.marks("period"))

    def lines(self):
        try:
            with open(self.path) as f:
                return [line.split() for line in f if line.strip()]
        except FileNotFoundError:
            return []

    def events(self):
        """Received messages as (frame, bytes)."""
        return [(int(p[0]), bytes.fromhex("".join(p[1:]))) for p in self.lines() if p and p[0].isdigit()]

    def sent(self):
        """Messages the capture client sent, as (frame, bytes)."""
        return [(int(p[1]), bytes.fromhex("".join(p[2:]))) for p in self.lines() if p and p[0] == "sent"]

    def marks(self, kind):
        """Frames of the lines of one kind ("sound", "quiet", "period", "xruns", "late"), in order."""
        return [int(p[1]) for p in self.lines() if len(p) == 2 and p[0] == kind]

    def wait_events(self, predicate, timeout=10, what="captured MIDI"):
        return wait_until(lambda: predicate(self.events()), timeout, what)

    def send(self, message):
        self.proc.stdin.write("send %s\n" % bytes(message).hex())
        self.proc.stdin.flush()

    def send_after(self, frames, message):
        """Sends the message exactly `frames` frames after the message sent before it (at the next
        period when there was none), whenever this is called; a frame already passed is written as a
        "late" mark."""
        self.proc.stdin.write("after %d %s\n" % (frames, bytes(message).hex()))
        self.proc.stdin.flush()

    def connect(self, source, destination):
        subprocess.run(self.session.launcher + ["jack_connect", source, destination], env=self.session.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=10)

    def stop(self):
        _stop(self.proc)


_realtime_granted = None


def jack_scheduling():
    """-R when the system grants real-time scheduling: without it the dummy server runs late cycles
    on a virtual machine and loses the MIDI written in them."""
    global _realtime_granted
    if _realtime_granted is None:
        _realtime_granted = subprocess.run(["chrt", "-f", "10", "true"], stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL).returncode == 0
        if not _realtime_granted:
            print("real-time scheduling is not granted: the JACK server runs without it (jackd -r)")
    return "-R" if _realtime_granted else "-r"


def _stop(proc, grace=3):
    if proc.poll() is not None:
        return
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(5)


# --- Session -------------------------------------------------------------------------------------

class Session:
    def __init__(self, jack=False, screen="1280x1024x24", keep=False):
        check(BIN and os.path.exists(BIN), "NOLARI_BIN does not name the nolari binary: %r" % BIN)
        self.jack = jack
        self.screen = screen
        self.keep = keep
        self.children = []
        self.proc = None
        self.window = None
        self.work = tempfile.mkdtemp(prefix="nolari-e2e-")
        self.start_dir = os.path.join(self.work, "start")
        os.mkdir(self.start_dir)
        self.display = None
        # Put before every program that talks to JACK: ["pw-jack"] joins a PipeWire server's graph.
        self.launcher = []
        self.env = dict(os.environ)
        self.env.update({"GSETTINGS_BACKEND": "memory", "LIBGL_ALWAYS_SOFTWARE": "1",
                         "JACK_NO_START_SERVER": "1", "JACK_NO_AUDIO_RESERVATION": "1",
                         "NO_AT_BRIDGE": "1"})

    # Context management
    def __enter__(self):
        try:
            self._start_display()
            if self.jack:
                self._start_jack()
        except BaseException:
            self.__exit__(*sys.exc_info())
            raise
        return self

    def __exit__(self, kind, value, traceback):
        if self.proc is not None:
            _stop(self.proc)
        for child in reversed(self.children):
            _stop(child)
        if kind is not None:
            sys.stderr.write("e2e failure; working folder kept at %s\n" % self.work)
            self._dump_log()
        elif not self.keep:
            shutil.rmtree(self.work, ignore_errors=True)
        return False

    def _dump_log(self):
        log = self.log()
        if log:
            sys.stderr.write("--- NolariLog.txt (last 60 lines) ---\n")
            sys.stderr.write("\n".join(log.splitlines()[-60:]) + "\n")

    def _start_display(self):
        """Xvfb takes the first free display number itself and names it once it accepts clients, so
        that two sessions started at once never share a display or connect before it is ready."""
        ready, named = os.pipe()
        try:
            xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(named), "-screen", "0", self.screen, "-nolisten", "tcp",
                                     "+extension", "GLX", "-ac"], pass_fds=(named,), stdout=subprocess.DEVNULL,
                                    stderr=open(os.path.join(self.work, "xvfb.log"), "w"))
            os.close(named)
            named = None
            self.children.append(xvfb)
            number = b""
            deadline = time.monotonic() + 10
            while not number.endswith(b"\n"):
                readable, _, _ = select.select([ready], [], [], max(0.0, deadline - time.monotonic()))
                chunk = os.read(ready, 16) if readable else b""
                check(chunk, "Xvfb did not start: " + open(os.path.join(self.work, "xvfb.log")).read())
                number += chunk
        finally:
            os.close(ready)
            if named is not None:
                os.close(named)
        self.display = ":" + number.decode().strip()
        self.env["DISPLAY"] = self.display

    def _start_jack(self):
        self.env["JACK_DEFAULT_SERVER"] = "nolari-e2e-%d" % os.getpid()
        jackd = subprocess.Popen(["jackd", "-n", self.env["JACK_DEFAULT_SERVER"], jack_scheduling(), "-d", "dummy",
                                  "-r", "48000", "-p", "256"], env=self.env,
                                 stdout=open(os.path.join(self.work, "jackd.log"), "w"), stderr=subprocess.STDOUT)
        self.children.append(jackd)
        wait_until(lambda: self._jack_running(jackd), 15, "the JACK server")

    def _jack_running(self, jackd):
        check(jackd.poll() is None, "jackd exited: " + open(os.path.join(self.work, "jackd.log")).read())
        return subprocess.run(["jack_lsp"], env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=10).returncode == 0

    def jack_ports(self):
        result = subprocess.run(self.launcher + ["jack_lsp"], env=self.env, capture_output=True, text=True, timeout=10)
        return result.stdout.splitlines()

    def capture(self, audio_sources=()):
        check(self.jack or self.launcher, "capture() needs a JACK server: Session(jack=True) or a launcher")
        return Capture(self, audio_sources)

    # Files of the starting directory
    def asset(self, name):
        return os.path.join(SOURCE, "assets", name)

    def path(self, name):
        return os.path.join(self.start_dir, name)

    def write_cfg(self, lines):
        with open(self.path("Nolari.cfg"), "w") as f:
            f.write("".join(line + "\n" for line in lines))

    def write_song(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def read(self, name):
        try:
            with open(self.path(name), errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def log(self):
        return self.read("NolariLog.txt")

    def wait_log(self, text, timeout=20):
        def seen():
            self._check_running(text)
            log = self.log()
            return log if text in log else None

        return wait_until(seen, timeout, "log line %r" % text)

    def wait_file(self, name, predicate=lambda text: bool(text), timeout=20):
        return wait_until(lambda: predicate(self.read(name)) and self.read(name), timeout, "file %s" % name)

    def _check_running(self, waiting_for):
        if self.proc is not None and self.proc.poll() is not None:
            raise Failure("nolari exited with %s while waiting for %r" % (self.proc.returncode, waiting_for))

    # The program
    def start(self, command=None, cwd=None):
        """Starts nolari in the starting directory, or the given command in the given folder."""
        self.proc = subprocess.Popen(command or self.launcher + [BIN], cwd=cwd or self.start_dir, env=self.env,
                                     stdin=subprocess.DEVNULL,
                                     stdout=open(os.path.join(self.work, "nolari.out"), "w"),
                                     stderr=open(os.path.join(self.work, "nolari.err"), "w"))
        return self.proc

    def stderr(self):
        """What the program printed on standard error so far."""
        with open(os.path.join(self.work, "nolari.err"), errors="replace") as f:
            return f.read()

    def wait_exit(self, timeout=10):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure("nolari did not exit within %d s" % timeout)

    def xdotool(self, *args):
        result = subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, capture_output=True,
                                text=True, timeout=15)
        return result.stdout.strip()

    def wait_window(self, timeout=20):
        def found():
            self._check_running("the window")
            ids = self.xdotool("search", "--onlyvisible", "--name", "^Nolari").split()
            return ids[0] if ids else None

        self.window = wait_until(found, timeout, "the Nolari window")
        self.xdotool("windowfocus", "--sync", self.window)
        return self.window

    def title(self):
        return self.xdotool("getwindowname", self.window)

    def _focus(self):
        if self.window is None:
            self.wait_window()
        self.xdotool("windowfocus", "--sync", self.window)

    def key(self, *keys):
        self._focus()
        self.xdotool("key", "--delay", "30", *keys)

    def key_down(self, key):
        self._focus()
        self.xdotool("keydown", key)

    def key_up(self, key):
        self._focus()
        self.xdotool("keyup", key)

    def type_text(self, text):
        self.xdotool("type", "--delay", "20", text)

    def click(self, x, y, button=1):
        self._focus()
        self.xdotool("mousemove", "--window", self.window, x, y)
        self.xdotool("click", button)

    def close_window(self):
        """Asks the window to close as a window manager does (WM_DELETE_WINDOW)."""
        if self.window is None:
            self.wait_window()
        subprocess.run([tool("xclose"), self.window], env=self.env, check=True, timeout=10)

    def geometry(self):
        out = self.xdotool("getwindowgeometry", "--shell", self.window)
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def screenshot(self, name=None):
        """The window's pixels; also saved as a PNG in the working folder when a name is given."""
        if self.window is None:
            self.wait_window()
        data = subprocess.run(["xwd", "-root", "-silent"], env=self.env, capture_output=True,
                              timeout=20, check=True).stdout
        x, y, width, height = self.geometry()
        image = parse_xwd(data).crop(x, y, width, height)
        if name:
            image.save_png(os.path.join(self.work, name))
        return image


def run(test):
    """Runs a test function with a clear verdict line."""
    name = os.path.basename(sys.argv[0])
    try:
        test()
    except Failure as failure:
        sys.stderr.write("FAIL %s: %s\n" % (name, failure))
        sys.exit(1)
    print("PASS %s" % name)
