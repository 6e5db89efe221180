"""The sound stack of today's Debian and Ubuntu desktops, run headless for a Session: a private
session bus and 0700 runtime folder, PipeWire, WirePlumber and pipewire-pulse, and a null sink as
the default output whose monitor can be recorded (parecord) or listened to over PipeWire's JACK
(Session.launcher = ["pw-jack"]). Every wait is bounded; the processes started here join the
session's children, so they are stopped by their ids with it."""

import array
import json
import math
import os
import struct
import subprocess
import wave

import harness
from harness import check

SINK = "nolari_null"
RATE = 48000


class SoundServer:
    def __init__(self, session):
        self.session = session
        self.runtime = os.path.join(session.work, "runtime")
        os.mkdir(self.runtime, 0o700)
        env = session.env
        for name in ("PULSE_SERVER", "PIPEWIRE_REMOTE", "JACK_DEFAULT_SERVER", "PIPEWIRE_RUNTIME_DIR"):
            env.pop(name, None)
        env["XDG_RUNTIME_DIR"] = self.runtime
        env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + os.path.join(self.runtime, "bus")
        # PipeWire's own configuration and state stay in the test's folder too.
        env["XDG_CONFIG_HOME"] = os.path.join(session.work, "config")
        env["XDG_STATE_HOME"] = os.path.join(session.work, "state")
        self._desktop_clock()
        self._spawn("dbus", ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                             "--address=" + env["DBUS_SESSION_BUS_ADDRESS"]])
        self._wait_path("bus", "the session bus")
        self._spawn("pipewire", ["pipewire"])
        self._wait_path("pipewire-0", "the PipeWire server")
        self._spawn("wireplumber", ["wireplumber"])
        self._spawn("pipewire-pulse", ["pipewire-pulse"])
        harness.wait_until(lambda: self.pactl("info").returncode == 0, 15, "pipewire-pulse")
        check(self.pactl("load-module", "module-null-sink", "sink_name=" + SINK).returncode == 0,
              "the null sink could not be loaded")
        harness.wait_until(lambda: self.pactl("set-default-sink", SINK).returncode == 0
                           and SINK in self.pactl("info").stdout.split("Default Sink: ")[-1].split("\n")[0],
                           15, "the null sink as the default output")

    def _desktop_clock(self):
        """PipeWire raises its smallest quantum to 1024 frames on a virtual machine, which test
        machines often are; a desktop's sound server runs on hardware with its default of 16."""
        folder = os.path.join(self.session.env["XDG_CONFIG_HOME"], "pipewire", "pipewire.conf.d")
        os.makedirs(folder)
        with open(os.path.join(folder, "desktop-clock.conf"), "w") as f:
            f.write("context.properties = { vm.overrides = { default.clock.min-quantum = 16 } }\n")

    def _spawn(self, name, command):
        log = open(os.path.join(self.session.work, name + ".log"), "w")
        proc = subprocess.Popen(command, env=self.session.env, stdin=subprocess.DEVNULL, stdout=log,
                                stderr=subprocess.STDOUT)
        self.session.children.append(proc)
        harness.wait_until(lambda: proc.poll() is None, 1, name)
        return proc

    def _wait_path(self, name, what):
        harness.wait_until(lambda: os.path.exists(os.path.join(self.runtime, name)), 15, what)

    def pactl(self, *args):
        return subprocess.run(["pactl"] + list(args), env=self.session.env, capture_output=True, text=True,
                              timeout=10)

    def nodes(self):
        """The graph's nodes as {node.name: properties}."""
        result = subprocess.run(["pw-dump"], env=self.session.env, capture_output=True, text=True, timeout=15)
        objects = json.loads(result.stdout or "[]")
        return {o["info"]["props"].get("node.name"): o["info"]["props"] for o in objects
                if o.get("type", "").endswith(":Node") and o.get("info")}

    def wait_linked_to_sink(self, node):
        """Waits until the session manager has linked the node's output to the null sink."""
        def linked():
            links = subprocess.run(["pw-link", "-l"], env=self.session.env, capture_output=True, text=True,
                                   timeout=10).stdout
            return "%s:output_FL\n  |-> %s:playback_FL" % (node, SINK) in links

        harness.wait_until(linked, 15, node + " linked to the null sink")

    def monitor_ports(self):
        """The JACK names of the sink's monitor ports (PipeWire names the JACK client after the
        sink's description), for a session whose launcher is pw-jack."""
        def found():
            ports = [p for p in self.session.jack_ports() if p.startswith(SINK) and ":monitor_F" in p]
            return sorted(ports) if len(ports) == 2 else None

        return harness.wait_until(found, 15, "the monitor's JACK ports")

    def record_monitor(self):
        return MonitorRecording(self.session)

    def play_tone(self, seconds, period):
        """Plays a steady 480 Hz tone through pw-play, asking the graph for a period of that many
        frames, and returns when it has played."""
        path = os.path.join(self.session.work, "tone.wav")
        wave_period = [int(8000 * math.sin(2 * math.pi * i / 100)) for i in range(100) for _ in range(2)]
        with wave.open(path, "wb") as f:
            f.setnchannels(2)
            f.setsampwidth(2)
            f.setframerate(RATE)
            f.writeframes(array.array("h", wave_period).tobytes() * (seconds * RATE // 100))
        subprocess.run(["pw-play", "--latency", str(period), path], env=self.session.env, timeout=seconds + 30,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class MonitorRecording:
    """The null sink's monitor, recorded as 32-bit float stereo at 48 kHz from now on."""

    def __init__(self, session):
        self.path = os.path.join(session.work, "monitor.raw")
        self.proc = subprocess.Popen(["parecord", "-d", SINK + ".monitor", "--raw", "--format=float32le",
                                      "--rate=%d" % RATE, "--channels=2", "--latency-msec=20", self.path],
                                     env=session.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=open(os.path.join(session.work, "parecord.log"), "w"))
        session.children.append(self.proc)
        harness.wait_until(lambda: self.frames() > RATE // 10, 10, "the monitor's first samples")

    def frames(self):
        try:
            return os.path.getsize(self.path) // 8
        except FileNotFoundError:
            return 0

    def rms(self, first, last):
        """Root mean square of frames [first, last) of both channels."""
        with open(self.path, "rb") as f:
            f.seek(first * 8)
            data = f.read((last - first) * 8)
        count = len(data) // 4
        check(count > 0, "no samples recorded between frames %d and %d" % (first, last))
        samples = struct.unpack("<%df" % count, data[:count * 4])
        return (sum(x * x for x in samples) / count) ** 0.5


class StolenTime:
    """The share of the processors' time a hypervisor took from this virtual machine from now on
    (the "steal" column of /proc/stat), during which no thread of it ran, however urgent."""

    def __init__(self):
        self.start = self._read()

    @staticmethod
    def _read():
        with open("/proc/stat") as f:
            fields = [int(v) for v in f.readline().split()[1:]]
        return sum(fields[:8]), fields[7]

    def percent(self):
        total, stolen = self._read()
        return 100.0 * (stolen - self.start[1]) / max(1, total - self.start[0])
