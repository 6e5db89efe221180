"""What a song costs the whole process: the real nolari binary started on it under a private X
display (no MIDI devices), Esc pressed as soon as its window is up, and the process's CPU time
(user and system, from its exit) and wall time from start to exit. A tiny song and the million-event
song with a quarter of a million groups (tools/songset --million) are run in turn, each time with no
metadata file, so that the load also makes the default grouping and writes the metadata at start
and at exit. Prints the median and worst of each, and the difference of the medians.
  NOLARI_BIN=$PWD/build/nolari NOLARI_TOOLS=$PWD/build python3 bench/process_cost.py [runs]"""

import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402


def tiny_song():
    return harness.smf([[(0, bytes([0x90, 60, 100])), (480, bytes([0x80, 60, 0]))]])


def million_song(folder):
    path = os.path.join(folder, "million.mid")
    subprocess.run([harness.tool("songset"), "--million", path], check=True)
    with open(path, "rb") as f:
        return f.read()


def run_once(song):
    """(CPU seconds, wall seconds) of one run of the program on the song."""
    with harness.Session() as s:
        path = s.write_song("song.mid", song)
        s.write_cfg(["CURRENTSONG " + path])
        start = time.monotonic()
        s.start()
        s.wait_window(120)
        s.key("Escape")
        _, status, usage = os.wait4(s.proc.pid, 0)
        wall = time.monotonic() - start
        s.proc = None
        harness.check(os.waitstatus_to_exitcode(status) == 0, "nolari did not exit cleanly")
        return usage.ru_utime + usage.ru_stime, wall


def report(name, runs):
    cpu = [r[0] for r in runs]
    wall = [r[1] for r in runs]
    print("%s: CPU median %.0f ms, worst %.0f ms; wall median %.0f ms, worst %.0f ms (n = %d)" % (
        name, 1000 * statistics.median(cpu), 1000 * max(cpu), 1000 * statistics.median(wall), 1000 * max(wall),
        len(runs)))
    return statistics.median(cpu), statistics.median(wall)


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    with harness.Session() as scratch:
        big = million_song(scratch.work)
    small = tiny_song()
    tiny, million = [], []
    for _ in range(count):
        tiny.append(run_once(small))
        million.append(run_once(big))
    tiny_cpu, tiny_wall = report("tiny song", tiny)
    big_cpu, big_wall = report("million-event song, 250,000 groups", million)
    print("the million-event song over the tiny one: CPU %.0f ms, wall %.0f ms" % (
        1000 * (big_cpu - tiny_cpu), 1000 * (big_wall - tiny_wall)))


harness.run(main)
